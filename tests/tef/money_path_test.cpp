// Paths on which money could be confirmed without the cloud's confirmation, finished twice,
// or left pending at the manager for good.
#include <algorithm>

#include "platform/fs.h"
#include "tef_fixture.h"

namespace {

using sitefsim::Transaction;
using Lines = std::vector<std::pair<std::string, std::string>>;

class MoneyPath : public TefTest {
 protected:
  void SetUp() override {
    clock.set({2024, 3, 7, 9, 5, 4, 0});
    hookLog();
  }
  void hookLog() {
    engine->onLog = [this](const std::string& op, const std::string& m) {
      logged.emplace_back(op, m);
    };
  }
  void fresh() {
    newEngine();
    hookLog();
  }
  bool logHas(const std::string& text) const {
    return std::any_of(logged.begin(), logged.end(),
                       [&](const auto& l) { return l.second.find(text) != std::string::npos; });
  }
  static std::string approved(const std::string& id, const std::string& nsu,
                              const std::string& count = "1") {
    return answerText({"000-000 = CRT", "001-000 = " + id, "002-000 = 44", "003-000 = 1000",
                       "009-000 = 0", "010-000 = VISA", "012-000 = " + nsu, "027-000 = F" + nsu,
                       "028-000 = " + count, "029-001 = \"x\"", "999-999 = 0"});
  }
  void marker() { put("Client/BKPINTPOS/TesteCupom.zkt", "teste\r\n"); }
  bool hasMarker() const { return has("Client/BKPINTPOS/TesteCupom.zkt"); }
  std::vector<std::string> finishes() const { return journal().finishes(); }
  // Operation and NSU of every CNF/NCN the manager received, acknowledged or not.
  std::vector<std::string> finishRequests() const {
    std::vector<std::string> out;
    for (const auto& r : journal().requests)
      if (r.op == "CNF" || r.op == "NCN") out.push_back(r.op + " " + r.nsu);
    return out;
  }
  std::vector<std::string> backupFolderLeft() const {
    std::vector<std::string> out;
    for (const auto& e : std::filesystem::recursive_directory_iterator(at("Client/BKPINTPOS")))
      if (e.is_regular_file()) out.push_back(e.path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
  }

  Lines logged;
};

// A request the manager read but never acknowledged may still be answered, approved: the
// sale keeps its marker, and the late answer is undone, never confirmed.
TEST_F(MoneyPath, LateAnswerToAFailedSaleIsUndone) {
  struct Case {
    const char* name;
    const char* script;
    bool stopped;       // the manager reads the request but leaves it in REQ\ (not taken)
    bool markerKept;    // after the failed sale
    bool lateApproval;  // then the manager answers it, approved
    std::vector<std::string> finishes;
  } cases[] = {
      {"read, left in REQ, answered late", "", true, true, true, {"NCN 777"}},
      {"taken, never acknowledged, answered late", "CRT noack\n", false, true, true, {"NCN 777"}},
      {"read, never answered: the lone marker goes", "", true, true, false, {}},
      {"declined: every request answered", "CRT decline\n", false, false, false, {}},
  };
  for (const auto& c : cases) {
    std::filesystem::remove_all(at("Client/BKPINTPOS"));
    std::filesystem::remove(journalPath());
    fresh();
    startManager(c.script);
    if (c.stopped) sim->setRunning(false);
    EXPECT_EQ(engine->RealizaTransacaoCRT("1", "CRT;", "EXTERNO", 10, 0, 0), 1) << c.name;
    EXPECT_EQ(hasMarker(), c.markerKept) << c.name;
    sim->setRunning(true);
    if (c.lateApproval) put("Client/RESP/INTPOS.001", approved(engine->cIdentificacao001, "777"));
    fresh();
    EXPECT_EQ(engine->Verifica_Transacao_Pendente(), 0) << c.name;
    EXPECT_EQ(finishes(), c.finishes) << c.name;
    EXPECT_FALSE(hasMarker()) << c.name;
    EXPECT_FALSE(has("Client/RESP/INTPOS.001")) << c.name;
  }
}

// An answer the engine never kept was never shown to the cloud: undone whatever the marker
// says, while a kept answer without the marker is one whose confirmation began.
TEST_F(MoneyPath, AnswerNeverKeptIsUndoneEvenWithoutTheMarker) {
  startManager();
  put("Client/RESP/INTPOS.001", approved("101010", "501"));
  EXPECT_EQ(engine->Verifica_Transacao_Pendente(), 0);
  put("Client/BKPINTPOS/INTPOS.001", approved("202020", "502"));
  EXPECT_EQ(engine->Verifica_Transacao_Pendente(), 0);
  EXPECT_EQ(finishes(), (std::vector<std::string>{"NCN 501", "CNF 502"}));
}

// A request that cannot be placed is a manager that is not there: a clear answer, the reason
// in the log, no staging file left, and a wait that still passes (no spinning).
TEST_F(MoneyPath, ManagerCheckWhenTheRequestCannotBePlaced) {
  std::filesystem::remove_all(at("Client/REQ"));
  const int64_t start = clock.monotonicMs();
  EXPECT_EQ(engine->VerificaGerenciadorPadrao(), 1);
  EXPECT_EQ(engine->str_msg_acumulada, "Gerenciador Padrao nao esta ATIVO.\r\n");
  EXPECT_FALSE(has("Client/INTPOS.001"));
  EXPECT_TRUE(logHas("REQ"));
  EXPECT_GE(clock.monotonicMs() - start, 7000);
}

// A count that is not a number must never stop every later recovery: it counts as "has
// receipt lines", is logged, and the transaction is undone under the marker, confirmed
// without it.
TEST_F(MoneyPath, UnreadableReceiptCountIsFinished) {
  struct Case {
    const char* count;
    bool marker;
    const char* finish;
  } cases[] = {
      {"two", true, "NCN 31"},
      {"-1", true, "NCN 31"},
      {"two", false, "CNF 31"},
      {"99999999999999999999", false, "CNF 31"},
  };
  for (const auto& c : cases) {
    std::filesystem::remove_all(at("Client/BKPINTPOS"));
    std::filesystem::create_directories(at("Client/BKPINTPOS/Multi"));
    std::filesystem::remove(journalPath());
    logged.clear();
    startManager();
    put("Client/BKPINTPOS/INTPOS.001", approved("101010", "31", c.count));
    if (c.marker) marker();
    EXPECT_EQ(engine->Verifica_Transacao_Pendente(), 0) << c.count;
    EXPECT_EQ(finishes(), std::vector<std::string>{c.finish}) << c.count;
    EXPECT_TRUE(logHas(std::string("\"") + c.count + "\"")) << c.count;
    EXPECT_EQ(backupFolderLeft(), std::vector<std::string>{"Finalizadas.zkt"}) << c.count;
  }
}

// The engine's copies into the manager's folders are staged in its own temporary folder: at
// no moment does a file other than the exchange files appear in REQ\ or RESP\.
TEST_F(MoneyPath, NoStrayFileInTheManagersFolders) {
  startManager();
  ASSERT_EQ(engine->RealizaTransacaoCRT("1", "CRT;CRT;", "EXTERNO", 1, 2, 0), 0);
  fresh();
  std::vector<std::string> stray;
  plat::setFsOpHook([&] {
    if (sim->acting()) return;  // the manager's own writes are its business
    for (const char* dir : {"Client/REQ", "Client/RESP"})
      for (const auto& e : std::filesystem::directory_iterator(at(dir))) {
        const std::string name = e.path().filename().string();
        if (name != "INTPOS.001" && name != "INTPOS.STS") stray.push_back(name);
      }
  });
  engine->Verifica_Transacao_Pendente();
  plat::setFsOpHook(nullptr);
  EXPECT_EQ(stray, std::vector<std::string>{});
  for (const auto& t : journal().transactions) EXPECT_EQ(t.state(), Transaction::State::Undone);
}

// A manager that writes its answer in two steps: the first part is not read as final, in the
// sale and in the recovery.
TEST_F(MoneyPath, PartlyWrittenAnswerIsNotFinal) {
  const auto answer = [](const std::string& id) { return approved(id, "88"); };
  const auto firstPart = [&](const std::string& id) {
    const std::string whole = answer(id);
    return whole.substr(0, whole.find("009-000"));
  };

  // The sale: the answer appears, the rest follows two seconds later.
  startManager("CRT ackonly\n");
  int64_t firstAt = -1;
  bool rest = false;
  watchers.push_back([&] {
    const auto reqs = journal().requests;
    if (rest || reqs.empty() || reqs.back().op != "CRT" || !has("Client/RESP/INTPOS.STS")) return;
    if (firstAt < 0) {
      put("Client/RESP/INTPOS.001", firstPart(reqs.back().id));
      firstAt = clock.monotonicMs();
    } else if (clock.monotonicMs() - firstAt >= 2000) {
      put("Client/RESP/INTPOS.001", answer(reqs.back().id));
      rest = true;
    }
  });
  EXPECT_EQ(engine->RealizaTransacaoCRT("1", "CRT;", "EXTERNO", 10, 0, 0), 0);
  EXPECT_EQ(get("Client/BKPINTPOS/INTPOS.001"), answer(engine->cIdentificacao001));
  watchers.clear();

  // The recovery: a part that stays incomplete is left for the next recovery, not cleared.
  std::filesystem::remove_all(at("Client/BKPINTPOS"));
  std::filesystem::create_directories(at("Client/BKPINTPOS/Multi"));
  std::filesystem::remove(journalPath());
  startManager();
  fresh();
  put("Client/RESP/INTPOS.001", firstPart("101010"));
  EXPECT_EQ(engine->Verifica_Transacao_Pendente(), 1);
  EXPECT_EQ(get("Client/RESP/INTPOS.001"), firstPart("101010"));
  EXPECT_TRUE(finishes().empty());
  EXPECT_TRUE(logHas("incompleta"));
  put("Client/RESP/INTPOS.001", answer("101010"));
  EXPECT_EQ(engine->Verifica_Transacao_Pendente(), 0);
  EXPECT_EQ(finishes(), std::vector<std::string>{"NCN 88"});
}

// An answer that cannot be cleared from RESP\ after its CNF or NCN was acknowledged is
// logged and never finished again, least of all the other way.
TEST_F(MoneyPath, FinishedTransactionIsNeverFinishedAgain) {
  for (const bool confirm : {false, true}) {
    std::filesystem::remove_all(at("Client/BKPINTPOS"));
    std::filesystem::create_directories(at("Client/BKPINTPOS/Multi"));
    std::filesystem::remove(journalPath());
    fresh();
    startManager();
    ASSERT_EQ(engine->RealizaTransacaoCRT("1", "CRT;", "EXTERNO", 10, 0, 0), 0);
    const std::string kept = get("Client/RESP/INTPOS.001");
    // The answer cannot be deleted: it is back whenever the engine looks.
    watchers.push_back([&] {
      if (!has("Client/RESP/INTPOS.001")) put("Client/RESP/INTPOS.001", kept);
    });
    EXPECT_EQ(confirm ? engine->ConfirmaTransacao() : engine->NaoConfirmaTransacao(), 0);
    fresh();
    engine->Verifica_Transacao_Pendente();
    engine->Verifica_Transacao_Pendente();
    watchers.clear();
    const std::string nsu = journal().transactions.at(0).nsu;
    EXPECT_EQ(finishRequests(), std::vector<std::string>{(confirm ? "CNF " : "NCN ") + nsu})
        << confirm;
    EXPECT_TRUE(logHas("ja finalizada")) << confirm;
  }
}

// The record also closes the window between an acknowledgment and the deletion of the saved
// request: the saved CNF is not sent a second time.
TEST_F(MoneyPath, SavedFinishAlreadyAcknowledgedIsNotResent) {
  startManager();
  ASSERT_EQ(engine->RealizaTransacaoCRT("1", "CRT;", "EXTERNO", 10, 0, 0), 0);
  ASSERT_EQ(engine->ConfirmaTransacao(), 0);
  // As if cut right after the record was written: INTPOS.BKP still holds the CNF.
  const auto cnf = journal().requests.back();
  put("Client/BKPINTPOS/INTPOS.BKP", cnf.raw);
  fresh();
  EXPECT_EQ(engine->Verifica_Transacao_Pendente(), 0);
  EXPECT_EQ(finishRequests().size(), 1u);
  EXPECT_FALSE(has("Client/BKPINTPOS/INTPOS.BKP"));
}

// An approval that comes after its sale gave up on it is kept and undone by the recovery,
// while the sale in progress goes on untouched.
TEST_F(MoneyPath, VeryLateApprovalIsUndone) {
  startManager("CRT approve stale\n");
  ASSERT_EQ(engine->RealizaTransacaoCRT("1", "CRT;", "EXTERNO", 10, 0, 0), 0);
  const auto sale = journal().transactions.at(0);
  EXPECT_EQ(engine->Coleta_Valor_Da_Transacao("012", "000"), sale.nsu);
  EXPECT_TRUE(has("Client/BKPINTPOS/INTPOS.AT1"));
  EXPECT_TRUE(logHas("atrasada"));
  ASSERT_EQ(engine->ConfirmaTransacao(), 0);

  fresh();
  EXPECT_EQ(engine->Verifica_Transacao_Pendente(), 0);
  EXPECT_EQ(finishRequests(), (std::vector<std::string>{"CNF " + sale.nsu, "NCN 99" + sale.nsu}));
  EXPECT_EQ(backupFolderLeft(), std::vector<std::string>{"Finalizadas.zkt"});
  // Undone once: a later recovery finds nothing more to do.
  EXPECT_EQ(engine->Verifica_Transacao_Pendente(), 0);
  EXPECT_EQ(finishRequests().size(), 2u);
}

// A cut after a stored payment was put back in RESP\ for finishing, and the manager then wrote
// its late answer to another request over that copy: both transactions are undone, and the
// staging files the cut left in the engine's temporary folder are gone.
TEST_F(MoneyPath, LateAnswerOverTheCopyPutBackIsNotLost) {
  marker();
  put("Client/BKPINTPOS/Multi/INTPOS.001", approved("100", "1001"));
  put("Client/BKPINTPOS/INTPOS.001", approved("100", "1001"));
  put("Client/RESP/INTPOS.001", approved("200", "2002"));
  const std::vector<std::string> staging = {"drivezkt/tmp/tef_Sitef/.INTPOS.001.tmp",
                                            "drivezkt/tmp/tef_Sitef/.TesteCupom.zkt.tmp",
                                            "drivezkt/tmp/tef_Sitef/.Finalizadas.zkt.tmp"};
  for (const auto& f : staging) put(f, "half");
  startManager();
  fresh();
  EXPECT_EQ(engine->Verifica_Transacao_Pendente(), 0);
  auto sent = finishRequests();
  std::sort(sent.begin(), sent.end());
  EXPECT_EQ(sent, (std::vector<std::string>{"NCN 1001", "NCN 2002"}));
  EXPECT_EQ(backupFolderLeft(), std::vector<std::string>{"Finalizadas.zkt"});
  EXPECT_FALSE(hasMarker());
  for (const auto& f : staging) EXPECT_FALSE(has(f)) << f;
  // The copy in RESP\ that is the stored payment's own is no late answer.
  fresh();
  put("Client/BKPINTPOS/INTPOS.001", approved("300", "3003"));
  put("Client/RESP/INTPOS.001", approved("300", "3003"));
  EXPECT_EQ(engine->Verifica_Transacao_Pendente(), 0);
  EXPECT_EQ(finishRequests().back(), "CNF 3003");
  EXPECT_FALSE(has("Client/BKPINTPOS/INTPOS.AT1"));
}

// A staging file a cut left under its fixed name does not stop the next write to its target.
TEST_F(MoneyPath, LeftoverStagingFileIsReplaced) {
  put("drivezkt/tmp/tef_Sitef/.INTPOS.BKP.tmp", "half");
  const std::string bytes = "000-000 = NCN\r\n999-999 = 0\r\n";
  engine->pasta().salvaFinalizacao(bytes);
  EXPECT_EQ(get("Client/BKPINTPOS/INTPOS.BKP"), bytes);
  EXPECT_FALSE(has("drivezkt/tmp/tef_Sitef/.INTPOS.BKP.tmp"));
}

}  // namespace

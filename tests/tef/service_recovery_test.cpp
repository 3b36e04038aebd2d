// The service's own calls into the recovery: at start-up, and before a second "ADM - Sitef".
#include <algorithm>

#include "platform/http.h"
#include "tef_fixture.h"
#include "tefsync/core/TfrmPrincipal.h"

namespace {

using sitefsim::Transaction;

// A cloud with no open request that notes how many manager requests came before each call.
class QuietCloud : public plat::HttpClient {
 public:
  QuietCloud(std::string journal, std::vector<size_t>& managerRequestsAtCall)
      : journal_(std::move(journal)), at_(managerRequestsAtCall) {}
  plat::HttpResponse send(const std::string&, const std::string&, const plat::HttpHeaders&,
                          const std::string&, long) override {
    at_.push_back(sitefsim::readJournal(journal_).requests.size());
    return {200, "[]"};
  }

 private:
  std::string journal_;
  std::vector<size_t>& at_;
};

class ServiceRecovery : public TefTest, public tefsync::Shell {
 protected:
  void SetUp() override { clock.set({2024, 3, 7, 9, 5, 4, 0}); }
  std::string exeDir() const {
    return (std::filesystem::path(drive()).parent_path() / "exe/").string();
  }

  void startService(const std::string& sitef = "SIM") {
    std::filesystem::create_directories(exeDir());
    std::ofstream(exeDir() + "configAPI_TEF.ini", std::ios::binary)
        << "[CONF]\r\nTOKEN_VELANTRA=tok-7f3e21\r\nedtCnpjTEf=12.345.678/"
           "0001-90\r\nidvelantra=9\r\n"
           "IdCaixa=0\r\nURLBASE=http://127.0.0.1:9/api\r\nchkTefSitef="
        << sitef << "\r\nchkTefCielo=NAO\r\ntimerApi=10\r\n";
    tefsync::TfrmPrincipal::Environment env;
    env.exeDir = exeDir();
    env.computerName = "CAIXA01";
    env.makeHttp = [this](const std::string&) -> std::unique_ptr<plat::HttpClient> {
      return std::make_unique<QuietCloud>(journalPath(), callsAt);
    };
    svc = std::make_unique<tefsync::TfrmPrincipal>(*this, env);
    svc->FormCreate();
  }
  bool logged(const std::string& operacao, const std::string& text) const {
    return std::any_of(svc->tblList.begin(), svc->tblList.end(), [&](const auto& r) {
      return r.Operacao == operacao && r.Mensagem.find(text) != std::string::npos;
    });
  }
  void saleCutBeforeDecision(int receipt = 1) {
    put("Client/BKPINTPOS/INTPOS.001",
        answerText({"000-000 = CRT", "001-000 = 080000", "009-000 = 0", "010-000 = VISA",
                    "012-000 = 4242", "028-000 = " + std::to_string(receipt), "999-999 = 0"}));
    put("Client/BKPINTPOS/TesteCupom.zkt", "teste\r\n");
  }

  // Shell
  void logRowAdded(const tefsync::LogRow&) override {}
  void stateChanged() override {}
  void showError(const std::string& m) override { errors.push_back(m); }
  void endProgram() override {}
  bool endPending() override { return false; }

  std::unique_ptr<tefsync::TfrmPrincipal> svc;
  std::vector<size_t> callsAt;
  std::vector<std::string> errors;
};

// A sale cut by a power failure is finished on the first tick, before the first status query,
// and the log says so; then polling goes on as usual.
TEST_F(ServiceRecovery, UnfinishedWorkIsFinishedOnTheFirstTick) {
  struct Case {
    const char* name;
    bool pending;
    const char* sitef;
    bool managerUp;
    std::vector<std::string> finishes;
    size_t managerRequestsBeforeFirstQuery;
  } cases[] = {
      {"cut sale, manager up", true, "SIM", true, {"NCN 4242"}, 3},
      {"nothing pending", false, "SIM", true, {}, 0},
      {"TEF Sitef off", true, "NAO", true, {}, 0},
      {"manager down: left for later", true, "SIM", false, {}, 0},
  };
  for (const auto& c : cases) {
    svc.reset();
    std::filesystem::remove_all(at("Client/BKPINTPOS"));
    std::filesystem::remove(journalPath());
    callsAt.clear();
    startManager();
    if (!c.managerUp) sim->setRunning(false);
    if (c.pending) saleCutBeforeDecision();
    startService(c.sitef);
    svc->timerApiTimer();
    ASSERT_FALSE(callsAt.empty()) << c.name;
    EXPECT_EQ(journal().finishes(), c.finishes) << c.name;
    // The manager had its ATV and NCN before the cloud heard anything.
    EXPECT_EQ(callsAt.front(), c.managerRequestsBeforeFirstQuery) << c.name;
    EXPECT_EQ(logged("Recuperacao TEF", "Transacao pendente finalizada"), !c.finishes.empty())
        << c.name;
    EXPECT_TRUE(errors.empty()) << c.name;
    EXPECT_TRUE(svc->timerApi.Enabled) << c.name;
  }
  // With the manager down the work stays, and the next tick tries again.
  sim->setRunning(true);
  svc->uGetAPI = 0;
  svc->timerApiTimer();
  EXPECT_EQ(journal().finishes(), std::vector<std::string>{"NCN 4242"});
}

// While idle, whatever is kept to finish is tried at every poll: with the manager silent the
// log says so once, and once it answers the work is finished with its own rows.
TEST_F(ServiceRecovery, IdleTicksFinishWhatIsKeptWithOneRowPerChange) {
  startManager("ATV noack times=3\n");
  // A late approval kept aside by an earlier run's sale.
  put("Client/BKPINTPOS/INTPOS.AT1",
      answerText({"000-000 = CRT", "001-000 = 080000", "002-000 = 1057", "009-000 = 0",
                  "010-000 = VISA", "012-000 = 4242", "028-000 = 1", "999-999 = 0"}));
  startService();
  std::vector<std::string> rows;
  for (int tick = 0; tick < 5; ++tick) {
    svc->uGetAPI = 0;
    svc->timerApiTimer();
  }
  for (const auto& r : svc->tblList)
    if (r.Operacao == "Recuperacao TEF") rows.push_back(r.Mensagem);
  EXPECT_EQ(rows, (std::vector<std::string>{
                      "Gerenciador inativo; nova tentativa na proxima consulta",
                      "Transacao pendente encontrada sem operacao em curso",
                      "Aprovacao atrasada NSU 4242 desfeita", "Transacao pendente finalizada"}));
  EXPECT_EQ(journal().finishes(), std::vector<std::string>{"NCN 4242"});
  size_t checks = 0;
  for (const auto& r : journal().requests) checks += r.op == "ATV";
  EXPECT_GE(checks, 4u);          // tried at each of the first four ticks
  EXPECT_EQ(callsAt.size(), 5u);  // and polled meanwhile
  EXPECT_TRUE(errors.empty());
}

// A second "ADM - Sitef": an earlier approved answer without receipt lines blocks nothing;
// one that needs finishing is finished first; work that cannot be finished is shown.
TEST_F(ServiceRecovery, SecondAdministrativeRequest) {
  struct Case {
    const char* name;
    const char* script;
    int admsCarriedOut;
    bool firstUndone;
    bool refused;
  } cases[] = {
      {"first without receipt lines", "ADM approve receipt=0\n", 2, false, false},
      {"first needs finishing", "", 2, true, false},
      {"its undo is not acknowledged", "NCN noack times=0\n", 1, false, true},
  };
  for (const auto& c : cases) {
    svc.reset();
    std::filesystem::remove_all(at("Client/BKPINTPOS"));
    std::filesystem::remove(journalPath());
    errors.clear();
    startManager(c.script);
    startService();
    svc->SpeedButton1Click();
    svc->SpeedButton1Click();
    const auto j = journal();
    EXPECT_EQ(j.transactions.size(), static_cast<size_t>(c.admsCarriedOut)) << c.name;
    EXPECT_EQ(j.transactions.at(0).state() == Transaction::State::Undone, c.firstUndone) << c.name;
    EXPECT_EQ(errors.size(), c.refused ? 1u : 0u) << c.name;
    if (c.refused) {
      EXPECT_NE(errors[0].find("anterior não finalizada"), std::string::npos) << errors[0];
      EXPECT_TRUE(logged("ADm - Sitef", "anterior não finalizada")) << c.name;
    }
  }
}

}  // namespace

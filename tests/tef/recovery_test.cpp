// Recovery of transactions an earlier run left unfinished.
#include "tef_fixture.h"

namespace {

using sitefsim::Transaction;

class Recovery : public TefTest {
 protected:
  void SetUp() override {
    startManager();
    captureRequests();
  }
  // An approved answer; nsu also names its identifier and amount.
  static std::string approved(const std::string& id, const std::string& nsu, int receipt = 1,
                              const std::string& rede = "VISA") {
    std::vector<std::string> l = {
        "000-000 = CRT",    "001-000 = " + id,   "002-000 = 44",
        "003-000 = 1000",   "009-000 = 0",       "010-000 = " + rede,
        "012-000 = " + nsu, "027-000 = F" + nsu, "028-000 = " + std::to_string(receipt)};
    for (int i = 1; i <= receipt; ++i) l.push_back("029-00" + std::to_string(i) + " = \"x\"");
    l.push_back("999-999 = 0");
    return answerText(l);
  }
  void marker() { put("Client/BKPINTPOS/TesteCupom.zkt", "teste\r\n"); }
  // Acknowledged finishing requests the manager received, "CNF <nsu>" / "NCN <nsu>".
  std::vector<std::string> finishes() const { return journal().finishes(); }
  std::vector<std::string> left() const {
    std::vector<std::string> out;
    for (const char* f :
         {"Client/RESP/INTPOS.001", "Client/BKPINTPOS/INTPOS.001", "Client/BKPINTPOS/INTPOS.BKP",
          "Client/BKPINTPOS/TesteCupom.zkt", "Client/BKPINTPOS/Multi/INTPOS.001",
          "Client/BKPINTPOS/Multi/INTPOS.002", "Client/BKPINTPOS/Multi/INTPOS.003"})
      if (has(f)) out.push_back(f);
    return out;
  }
};

TEST_F(Recovery, DecisionTable) {
  struct Case {
    const char* name;
    bool backup, answer, mark;
    int receipt;
    std::vector<std::string> finishes;
    std::vector<std::string> left;
  } cases[] = {
      // A marker with nothing left to finish goes.
      {"no receipt lines: cleared", true, true, true, 0, {}, {}},
      {"marker: undo", true, false, true, 1, {"NCN 501"}, {}},
      {"no marker: confirm", true, false, false, 1, {"CNF 501"}, {}},
      {"answer only, marker", false, true, true, 2, {"NCN 502"}, {}},
      // Never kept, so never shown to the cloud: undone.
      {"answer only, no marker", false, true, false, 2, {"NCN 502"}, {}},
      // The backup answer is finished as it began; another approval in RESP\ is a late one,
      // pending at the manager: undone first, not overwritten.
      {"backup and another answer", true, true, false, 1, {"NCN 502", "CNF 501"}, {}},
      {"nothing", false, false, true, 1, {}, {}},
  };
  for (const auto& c : cases) {
    std::filesystem::remove(journalPath());
    std::filesystem::remove(at("Client/BKPINTPOS/Finalizadas.zkt"));
    startManager();
    if (c.backup) put("Client/BKPINTPOS/INTPOS.001", approved("101010", "501", c.receipt));
    if (c.answer) put("Client/RESP/INTPOS.001", approved("202020", "502", c.receipt));
    if (c.mark) marker();
    engine->str_msg_acumulada.clear();
    EXPECT_EQ(engine->Verifica_Transacao_Pendente(), 0) << c.name;
    EXPECT_EQ(finishes(), c.finishes) << c.name;
    EXPECT_EQ(left(), c.left) << c.name;
    if (c.finishes.empty()) {
      EXPECT_EQ(engine->str_msg_acumulada, "") << c.name;
    }
    std::filesystem::remove(at("Client/BKPINTPOS/TesteCupom.zkt"));
  }
}

TEST_F(Recovery, UndoCarriesTheAnswersIdentifierAndMessage) {
  put("Client/BKPINTPOS/INTPOS.001", approved("101010", "123"));
  marker();
  EXPECT_EQ(engine->Verifica_Transacao_Pendente(), 0);
  EXPECT_EQ(journal().requests.back().id, "101010");
  EXPECT_EQ(engine->str_msg_acumulada,
            "Transacao nao efetuada. Favor reter o cupom\\r\\n Rede: VISA\\r\\n  NSU: "
            "123\\r\\nValor: 1000\r\n");
  // The manager is checked once, right before the undo.
  EXPECT_EQ(ops(), (std::vector<std::string>{"ATV", "NCN"}));
}

TEST_F(Recovery, ConfirmationNotAcknowledgedIsResentUnchanged) {
  startManager("CNF noack\n");
  put("Client/BKPINTPOS/INTPOS.001", approved("101010", "123", 1, ""));
  put("Client/RESP/INTPOS.STS", "001-000 = 101010\r\n");
  EXPECT_EQ(engine->Verifica_Transacao_Pendente(), 1);
  const std::string bkp = get("Client/BKPINTPOS/INTPOS.BKP");
  EXPECT_EQ(bkp,
            "000-000 = CNF\r\n001-000 = 101010\r\n002-000 = 44\r\n010-000 = \r\n012-000 = "
            "123\r\n027-000 = F123\r\n999-999 = 0\r\n");
  EXPECT_EQ(engine->str_msg_acumulada,
            "Ultima transacao foi confirmada. Favor\\r\\nRede: \\r\\nValor de: "
            "1000\\r\\nreimprimir ultimo cupom. \r\n");

  requests.clear();
  engine->str_msg_acumulada.clear();
  EXPECT_EQ(engine->Verifica_Transacao_Pendente(), 0);
  ASSERT_EQ(requests.size(), 1u);  // no manager check before a re-send
  EXPECT_EQ(requests[0], bkp);
  EXPECT_EQ(engine->str_msg_acumulada, "Reenvio da ultima transacao CNF\r\n");
  EXPECT_EQ(finishes(), (std::vector<std::string>{"CNF 123"}));
  EXPECT_TRUE(left().empty());
}

TEST_F(Recovery, ResendNotAcknowledgedKeepsTheRequest) {
  put("Client/BKPINTPOS/INTPOS.BKP",
      "000-000 = NCN\r\n001-000 = 101010\r\n012-000 = 9\r\n999-999 = 0\r\n");
  sim->setRunning(false);
  EXPECT_EQ(engine->Verifica_Transacao_Pendente(), 1);
  EXPECT_EQ(engine->str_msg_acumulada,
            "Reenvio da ultima transacao NCN\r\nErro de comunicacao com client sitef. Favor "
            "ativa-lo.\r\n");
  EXPECT_TRUE(has("Client/BKPINTPOS/INTPOS.BKP"));
}

TEST_F(Recovery, OtherSavedRequestIsLeftAlone) {
  put("Client/BKPINTPOS/INTPOS.BKP", "000-000 = ATV\r\n001-000 = 1\r\n999-999 = 0\r\n");
  EXPECT_EQ(engine->Verifica_Transacao_Pendente(), 0);
  EXPECT_TRUE(requests.empty());
  EXPECT_TRUE(has("Client/BKPINTPOS/INTPOS.BKP"));
}

TEST_F(Recovery, UndoNotAcknowledgedIsKeptForTheNextRecovery) {
  startManager("NCN noack\n");
  put("Client/BKPINTPOS/INTPOS.001", approved("101010", "123"));
  marker();
  EXPECT_EQ(engine->Verifica_Transacao_Pendente(), 1);
  EXPECT_NE(get("Client/BKPINTPOS/INTPOS.BKP").find("000-000 = NCN"), std::string::npos);
  EXPECT_EQ(engine->Verifica_Transacao_Pendente(), 0);
  EXPECT_EQ(finishes(), (std::vector<std::string>{"NCN 123"}));
  EXPECT_TRUE(left().empty());
}

TEST_F(Recovery, StoredPaymentsOneAndThree) {
  put("Client/BKPINTPOS/Multi/INTPOS.001", approved("010101", "1"));
  put("Client/BKPINTPOS/Multi/INTPOS.003", approved("030303", "3"));
  marker();
  EXPECT_EQ(engine->Verifica_Transacao_Pendente(), 0);
  EXPECT_EQ(finishes(), (std::vector<std::string>{"NCN 1", "NCN 3"}));
  EXPECT_EQ(ops(), (std::vector<std::string>{"ATV", "NCN", "ATV", "NCN"}));
  EXPECT_TRUE(left().empty());
}

TEST_F(Recovery, TwoPaymentSaleWithoutDecision) {
  ASSERT_EQ(engine->RealizaTransacaoCRT("1", "CRT;CRT;", "EXTERNO", 1, 2, 0), 0);
  const auto t = journal().transactions;
  newEngine();
  EXPECT_EQ(engine->Verifica_Transacao_Pendente(), 0);
  // The last payment is also the current answer: undone once, not a second time from its
  // stored copy.
  EXPECT_EQ(finishes(), (std::vector<std::string>{"NCN " + t[1].nsu, "NCN " + t[0].nsu}));
  EXPECT_TRUE(left().empty());
}

TEST_F(Recovery, TwoPaymentSaleWhoseConfirmationBegan) {
  ASSERT_EQ(engine->RealizaTransacaoCRT("1", "CRT;CRT;", "EXTERNO", 1, 2, 0), 0);
  std::filesystem::remove(at("Client/BKPINTPOS/TesteCupom.zkt"));
  newEngine();
  EXPECT_EQ(engine->Verifica_Transacao_Pendente(), 0);
  for (const auto& t : journal().transactions) EXPECT_EQ(t.state(), Transaction::State::Confirmed);
}

TEST_F(Recovery, OnlyWithTheSitefProfile) {
  select.temTefSitef = false;
  put("Client/BKPINTPOS/INTPOS.001", approved("101010", "123"));
  EXPECT_EQ(engine->Verifica_Transacao_Pendente(), 0);
  EXPECT_TRUE(requests.empty());
  EXPECT_TRUE(has("Client/BKPINTPOS/INTPOS.001"));
}

}  // namespace

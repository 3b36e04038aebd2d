// The card sale of one to three payments.
#include "tef_fixture.h"

namespace {

using sitefsim::Transaction;

class Sale : public TefTest {
 protected:
  void SetUp() override { captureRequests(); }
  std::string field(const std::string& request, const std::string& key) {
    const auto p = request.find(key + " = ");
    if (p == std::string::npos) return "<none>";
    const auto e = request.find("\r\n", p);
    return request.substr(p + key.size() + 3, e - p - key.size() - 3);
  }
  bool marker() const { return has("Client/BKPINTPOS/TesteCupom.zkt"); }
};

TEST_F(Sale, RequestLayoutsByteForByte) {
  startManager();
  clock.set({2024, 3, 7, 10, 11, 12, 0});
  struct Case {
    std::string ops;
    std::string body;  // after 000-000 and 001-000
  } cases[] = {
      {"CRT;", "002-000 = 77\r\n003-000 = 2590\r\n565-008 = 1=12345678000190;2=52718094000236\r\n"},
      {"PIX;", "002-000 = 77\r\n003-000 = 2590\r\n565-008 = 1=12345678000190;2=52718094000236\r\n"},
      {"CARTDIGI;",
       "002-000 = 77\r\n003-000 = 2590\r\n504-000 = 60110024\r\n701-000 = 0\r\n"
       "565-008 = 1=12345678000190;2=52718094000236\r\n"},
      {"ADM;", "507-001 = 1\r\n565-008 = 1=12345678000190;2=52718094000236\r\n"},
      {"PRE;", "003-000 = 0\r\n"},
      {"PGV;", ""},
      {"PCB;", ""},
      {"CEL;", "210-036 = \r\n"},
  };
  for (const auto& c : cases) {
    std::filesystem::remove_all(at("Client/BKPINTPOS"));
    std::filesystem::create_directories(at("Client/BKPINTPOS/Multi"));
    requests.clear();
    ASSERT_EQ(engine->RealizaTransacaoCRT("77", c.ops, "EXTERNO", 25.90, 0, 0), 0) << c.ops;
    ASSERT_EQ(requests.size(), 1u) << c.ops;
    std::string op = c.ops.substr(0, c.ops.size() - 1);
    if (op == "PIX") op = "CRT";
    EXPECT_EQ(requests[0], "000-000 = " + op + "\r\n001-000 = " + field(requests[0], "001-000") +
                               "\r\n" + c.body + "999-999 = 0\r\n")
        << c.ops;
  }
}

TEST_F(Sale, SinglePaymentApproved) {
  startManager();
  EXPECT_EQ(engine->RealizaTransacaoCRT("55", "CRT;", "EXTERNO", 12.34, 0, 0), 0);
  EXPECT_TRUE(has("Client/RESP/INTPOS.001"));
  EXPECT_EQ(get("Client/BKPINTPOS/INTPOS.001"), get("Client/RESP/INTPOS.001"));
  EXPECT_TRUE(marker());
  EXPECT_FALSE(has("Client/BKPINTPOS/Multi/INTPOS.001"));
  EXPECT_FALSE(has("Client/REQ/INTPOS.001"));
  EXPECT_FALSE(engine->temMultiplosPagtos);
  EXPECT_EQ(engine->Coleta_Valor_Da_Transacao("003", "000"), "1234");
  const auto j = journal();
  ASSERT_EQ(j.transactions.size(), 1u);
  EXPECT_EQ(j.transactions[0].state(), Transaction::State::Pending);
}

TEST_F(Sale, TwoPaymentsAreStored) {
  startManager();
  EXPECT_EQ(engine->RealizaTransacaoCRT("55", "CRT;CRT;", "EXTERNO", 10.00, 5.00, 0), 0);
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(field(requests[0], "003-000"), "1000");
  EXPECT_EQ(field(requests[1], "003-000"), "500");
  EXPECT_TRUE(engine->temMultiplosPagtos);
  EXPECT_NE(get("Client/BKPINTPOS/Multi/INTPOS.001").find("003-000 = 1000"), std::string::npos);
  EXPECT_NE(get("Client/BKPINTPOS/Multi/INTPOS.002").find("003-000 = 500"), std::string::npos);
  EXPECT_EQ(get("Client/BKPINTPOS/INTPOS.001"), get("Client/BKPINTPOS/Multi/INTPOS.002"));
  EXPECT_TRUE(marker());
  // No manager check between the payments of a sale.
  EXPECT_EQ(ops(), (std::vector<std::string>{"CRT", "CRT"}));
}

TEST_F(Sale, ThreePaymentsTakeTheirCodesInOrder) {
  startManager();
  EXPECT_EQ(engine->RealizaTransacaoCRT("9", "CRT;CARTDIGI;PRE;", "EXTERNO", 1, 2, 3), 0);
  EXPECT_EQ(ops(), (std::vector<std::string>{"CRT", "CARTDIGI", "PRE"}));
  for (const char* n : {"1", "2", "3"})
    EXPECT_TRUE(has(std::string("Client/BKPINTPOS/Multi/INTPOS.00") + n)) << n;
}

TEST_F(Sale, ThirdAmountWithoutSecondStoresBoth) {
  startManager();
  EXPECT_EQ(engine->RealizaTransacaoCRT("9", "CRT;CRT;", "EXTERNO", 1, 0, 3), 0);
  EXPECT_TRUE(has("Client/BKPINTPOS/Multi/INTPOS.001"));
  EXPECT_FALSE(has("Client/BKPINTPOS/Multi/INTPOS.002"));
  EXPECT_TRUE(has("Client/BKPINTPOS/Multi/INTPOS.003"));
  EXPECT_EQ(engine->ConfirmaTransacao(), 0);
  const auto j = journal();
  ASSERT_EQ(j.transactions.size(), 2u);
  for (const auto& t : j.transactions) EXPECT_EQ(t.state(), Transaction::State::Confirmed);
  EXPECT_EQ(j.transactions[1].cents, "300");
}

TEST_F(Sale, SecondDeclinedUndoesTheFirst) {
  startManager("CRT approve\nCRT decline msg=\"Saldo insuficiente\"\n");
  EXPECT_EQ(engine->RealizaTransacaoCRT("1", "CRT;CRT;", "EXTERNO", 10, 5, 0), 1);
  const auto j = journal();
  ASSERT_EQ(j.transactions.size(), 1u);
  EXPECT_EQ(j.transactions[0].state(), Transaction::State::Undone);
  EXPECT_EQ(ops(), (std::vector<std::string>{"CRT", "CRT", "ATV", "NCN"}));
  EXPECT_EQ(j.requests[3].id, j.transactions[0].id);
  EXPECT_FALSE(has("Client/BKPINTPOS/Multi/INTPOS.001"));
  EXPECT_FALSE(marker());
  EXPECT_FALSE(has("Client/BKPINTPOS/INTPOS.BKP"));
  EXPECT_EQ(engine->str_msg_acumulada.substr(0, 20), "Saldo insuficiente\r\n");
}

TEST_F(Sale, FirstDeclinedReportsOnlyItsMessage) {
  startManager("CRT decline msg=\"Cartão recusado\"\n");
  engine->str_msg_acumulada = "old\r\n";
  EXPECT_EQ(engine->RealizaTransacaoCRT("1", "CRT;CRT;", "EXTERNO", 10, 5, 0), 1);
  EXPECT_EQ(engine->str_msg_acumulada, "Cartao recusado\r\n");
  EXPECT_EQ(ops(), (std::vector<std::string>{"CRT"}));
  EXPECT_FALSE(has("Client/RESP/INTPOS.001"));
  EXPECT_FALSE(has("Client/BKPINTPOS/INTPOS.001"));
  EXPECT_FALSE(marker());
}

TEST_F(Sale, ApprovedWithoutReceiptReportsTheMessage) {
  startManager("CRT approve receipt=0 msg=\"Aprovada sem comprovante\"\n");
  EXPECT_EQ(engine->RealizaTransacaoCRT("1", "CRT;", "EXTERNO", 10, 0, 0), 0);
  EXPECT_EQ(engine->str_msg_acumulada, "Aprovada sem comprovante\r\n");
}

TEST_F(Sale, NotAcknowledged) {
  // The manager is not running: the request is removed from REQ\, and the marker stays, since
  // a manager that read it could still answer it.
  startManager();
  sim->setRunning(false);
  EXPECT_EQ(engine->RealizaTransacaoCRT("1", "CRT;", "EXTERNO", 10, 0, 0), 1);
  EXPECT_EQ(engine->str_msg_acumulada, "Erro de comunicacao com client sitef. Favor ativa-lo.\r\n");
  EXPECT_FALSE(has("Client/REQ/INTPOS.001"));
  EXPECT_TRUE(marker());
}

TEST_F(Sale, TakenButNeverAcknowledgedKeepsTheMarker) {
  // The manager took the request and may still answer it: a late approval must be undone.
  startManager("CRT noack\n");
  EXPECT_EQ(engine->RealizaTransacaoCRT("1", "CRT;", "EXTERNO", 10, 0, 0), 1);
  EXPECT_TRUE(marker());
  put("Client/RESP/INTPOS.001",
      answerText({"000-000 = CRT", "001-000 = 090504", "009-000 = 0", "010-000 = VISA",
                  "012-000 = 777", "028-000 = 1", "029-001 = x", "999-999 = 0"}));
  EXPECT_EQ(engine->Verifica_Transacao_Pendente(), 0);
  EXPECT_EQ(ops().back(), "NCN");
}

TEST_F(Sale, StaleAnswerIsDeletedAndTheWaitGoesOn) {
  startManager("CRT approve stale\n");
  EXPECT_EQ(engine->RealizaTransacaoCRT("1", "CRT;", "EXTERNO", 10, 0, 0), 0);
  EXPECT_EQ(engine->Coleta_Valor_Da_Transacao("001", "000"), engine->cIdentificacao001);
  EXPECT_EQ(engine->Coleta_Valor_Da_Transacao("003", "000"), "1000");
}

TEST_F(Sale, AcknowledgedButNeverAnsweredWaitsWithoutEnd) {
  startManager("CRT ackonly\n");
  deadlineMs = 10 * 60 * 1000;
  EXPECT_THROW(engine->RealizaTransacaoCRT("1", "CRT;", "EXTERNO", 10, 0, 0), Deadline);
  EXPECT_TRUE(marker());
}

TEST_F(Sale, AdministrativeCallKeepsEarlierMessages) {
  startManager();
  engine->str_msg_acumulada = "earlier\r\n";
  EXPECT_EQ(engine->RealizaTransacaoCRT("0.00", "ADM", "NAO_HA", 0, 0, 0), 0);
  EXPECT_EQ(engine->str_msg_acumulada, "earlier\r\n");
  EXPECT_EQ(ops(), (std::vector<std::string>{"ADM"}));
  // Nothing in the sale finishes it; the next recovery undoes it.
  EXPECT_TRUE(marker());
  EXPECT_TRUE(has("Client/BKPINTPOS/INTPOS.001"));
  engine->Verifica_Transacao_Pendente();
  EXPECT_EQ(journal().transactions[0].state(), Transaction::State::Undone);
}

TEST_F(Sale, RefusedWhileAnEarlierTransactionIsUnfinished) {
  startManager();
  ASSERT_EQ(engine->RealizaTransacaoCRT("0.00", "ADM", "NAO_HA", 0, 0, 0), 0);
  EXPECT_EQ(engine->RealizaTransacaoCRT("0.00", "ADM", "NAO_HA", 0, 0, 0), 1);
  EXPECT_EQ(journal().transactions.size(), 1u);
  EXPECT_NE(engine->str_msg_acumulada.find("anterior nao finalizada"), std::string::npos);
  EXPECT_TRUE(has("Client/BKPINTPOS/INTPOS.001"));
}

}  // namespace

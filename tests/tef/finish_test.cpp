// Confirmation and undo after the cloud's decision.
#include "tef_fixture.h"

namespace {

using sitefsim::Transaction;

class Finish : public TefTest {
 protected:
  void sale(int payments, const std::string& script = "") {
    startManager(script);
    const double v2 = payments > 1 ? 2 : 0, v3 = payments > 2 ? 3 : 0;
    ASSERT_EQ(engine->RealizaTransacaoCRT("10", "CRT;CRT;CRT;", "EXTERNO", 1, v2, v3), 0);
  }
  void expectNothingLeft() {
    for (const char* f :
         {"Client/RESP/INTPOS.001", "Client/BKPINTPOS/INTPOS.001", "Client/BKPINTPOS/INTPOS.BKP",
          "Client/BKPINTPOS/TesteCupom.zkt", "Client/BKPINTPOS/Multi/INTPOS.001",
          "Client/BKPINTPOS/Multi/INTPOS.002", "Client/BKPINTPOS/Multi/INTPOS.003"})
      EXPECT_FALSE(has(f)) << f;
  }
};

TEST_F(Finish, ConfirmSendsCnfWithAFreshIdentifier) {
  sale(1);
  clock.advanceMs(60 * 1000);
  EXPECT_EQ(engine->ConfirmaTransacao(), 0);
  const auto j = journal();
  EXPECT_EQ(j.transactions[0].state(), Transaction::State::Confirmed);
  EXPECT_EQ(ops(), (std::vector<std::string>{"CRT", "ATV", "CNF"}));
  EXPECT_NE(j.requests[2].id, j.transactions[0].id);
  expectNothingLeft();
}

TEST_F(Finish, UndoSendsNcnWithTheAnswersIdentifier) {
  sale(1, "CRT approve network=VISA\n");
  clock.advanceMs(60 * 1000);
  engine->str_msg_acumulada.clear();
  EXPECT_EQ(engine->NaoConfirmaTransacao(), 0);
  const auto j = journal();
  EXPECT_EQ(j.transactions[0].state(), Transaction::State::Undone);
  EXPECT_EQ(ops(), (std::vector<std::string>{"CRT", "ATV", "NCN"}));
  EXPECT_EQ(j.requests[2].id, j.transactions[0].id);
  EXPECT_EQ(engine->str_msg_acumulada,
            "Transacao nao Efetuada. Favor Reter o Cupom\\r\\n Rede: VISA\\r\\n  NSU: " +
                j.transactions[0].nsu + "\\r\\nValor: 100\r\n");
  expectNothingLeft();
}

TEST_F(Finish, WithoutReceiptLinesConfirmSendsNothingUndoStillSends) {
  sale(1, "CRT approve receipt=0\n");
  EXPECT_EQ(engine->ConfirmaTransacao(), 0);
  EXPECT_EQ(ops(), (std::vector<std::string>{"CRT", "ATV"}));
  expectNothingLeft();

  newEngine();
  sale(1, "CRT approve receipt=0\n");
  EXPECT_EQ(engine->NaoConfirmaTransacao(), 0);
  EXPECT_EQ(ops().back(), "NCN");
  expectNothingLeft();
}

TEST_F(Finish, MultiPaymentChecksTheManagerOncePerPayment) {
  for (const bool confirm : {true, false}) {
    newEngine();
    // A fresh manager numbers its transactions from the start again: a fresh shop too.
    std::filesystem::remove(journalPath());
    std::filesystem::remove(at("Client/BKPINTPOS/Finalizadas.zkt"));
    sale(3);
    EXPECT_EQ(confirm ? engine->ConfirmaTransacao() : engine->NaoConfirmaTransacao(), 0);
    const std::string f = confirm ? "CNF" : "NCN";
    EXPECT_EQ(ops(), (std::vector<std::string>{"CRT", "CRT", "CRT", "ATV", f, "ATV", f, "ATV", f}));
    for (const auto& t : journal().transactions)
      EXPECT_EQ(t.state(), confirm ? Transaction::State::Confirmed : Transaction::State::Undone);
    expectNothingLeft();
    EXPECT_TRUE(engine->temMultiplosPagtos);
  }
}

TEST_F(Finish, UnacknowledgedPaymentStopsAMultiPaymentFinish) {
  sale(3, "CNF approve\nCNF noack\n");
  EXPECT_EQ(engine->ConfirmaTransacao(), 1);
  EXPECT_EQ(ops(), (std::vector<std::string>{"CRT", "CRT", "CRT", "ATV", "CNF", "ATV", "CNF"}));
  EXPECT_TRUE(has("Client/BKPINTPOS/Multi/INTPOS.001"));
  EXPECT_TRUE(has("Client/BKPINTPOS/Multi/INTPOS.002"));
  EXPECT_TRUE(has("Client/BKPINTPOS/INTPOS.BKP"));
  EXPECT_NE(get("Client/BKPINTPOS/INTPOS.BKP").find("000-000 = CNF"), std::string::npos);

  // The next recovery finishes every payment as confirmed.
  newEngine();
  engine->Verifica_Transacao_Pendente();
  for (const auto& t : journal().transactions) EXPECT_EQ(t.state(), Transaction::State::Confirmed);
  expectNothingLeft();
}

TEST_F(Finish, UnacknowledgedUndoIsResentAndKeepsItsDecision) {
  sale(2, "NCN noack\n");
  EXPECT_EQ(engine->NaoConfirmaTransacao(), 1);
  EXPECT_TRUE(has("Client/BKPINTPOS/TesteCupom.zkt"));  // stored payments still to undo
  newEngine();
  engine->Verifica_Transacao_Pendente();
  for (const auto& t : journal().transactions) EXPECT_EQ(t.state(), Transaction::State::Undone);
  expectNothingLeft();
}

TEST_F(Finish, WaitsForAnInactiveManager) {
  sale(1, "ATV noack times=2\n");
  engine->str_msg_acumulada.clear();
  EXPECT_EQ(engine->ConfirmaTransacao(), 0);
  EXPECT_EQ(engine->str_msg_acumulada,
            "Gerenciador Padrao nao esta ATIVO.\r\nGerenciador Padrao nao esta ATIVO.\r\n");
  EXPECT_EQ(journal().transactions[0].state(), Transaction::State::Confirmed);
}

}  // namespace

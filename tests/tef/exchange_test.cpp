// Sending requests, the acknowledgment wait, identifier checks and operator messages.
#include "tef_fixture.h"

namespace {

class Exchange : public TefTest {};

TEST_F(Exchange, RequestArrivesWholeAndStagingIsGone) {
  engine->CriarArquivo("INTPOS.001", "000-000 = ATV\r\n001-000 = 1\r\n999-999 = 0");
  EXPECT_EQ(get("Client/REQ/INTPOS.001"), "000-000 = ATV\r\n001-000 = 1\r\n999-999 = 0\r\n");
  EXPECT_FALSE(has("Client/INTPOS.001"));
}

TEST_F(Exchange, AcknowledgmentWaitsInVirtualTime) {
  struct Case {
    const char* name;
    std::string sts;  // empty: no file
    int result;
    int64_t elapsed;
  } cases[] = {
      {"no file", "", 1, 7000},
      {"stale", "000-000 = ATV\r\n001-000 = 111111\r\n", 1, 17500},
      {"no 001-000", "000-000 = ATV\r\n999-999 = 0\r\n", 1, 17500},
      {"matching", "000-000 = ATV\r\n001-000 = 090504\r\n", 0, 1500},
  };
  for (const auto& c : cases) {
    std::filesystem::remove(at("Client/RESP/INTPOS.STS"));
    if (!c.sts.empty()) put("Client/RESP/INTPOS.STS", c.sts);
    clock.set({2024, 3, 7, 9, 5, 4, 0});
    engine->cIdentificacao001 = "090504";
    const int64_t start = clock.monotonicMs();
    EXPECT_EQ(engine->Recebeu_Arquivo_INTPOSSTS_Valido(7), c.result) << c.name;
    EXPECT_EQ(clock.monotonicMs() - start, c.elapsed) << c.name;
  }
}

TEST_F(Exchange, AcknowledgmentComparesTextAnswerComparesNumbers) {
  put("Client/RESP/INTPOS.STS", "001-000 = 93000\r\n");
  put("Client/RESP/INTPOS.001", "001-000 = 93000\r\n");
  EXPECT_EQ(engine->IntPos_STS_Igual_Enviado("093000"), 1);
  EXPECT_EQ(engine->IntPos_001_Igual_Enviado("093000"), 0);
  put("Client/RESP/INTPOS.STS", "001-000 = 093000\r\n001-000 = 1\r\n");
  EXPECT_EQ(engine->IntPos_STS_Igual_Enviado("093000"), 0);
  put("Client/RESP/INTPOS.001", "000-000 = CRT\r\n");
  EXPECT_EQ(engine->IntPos_001_Igual_Enviado("093000"), 1);
}

TEST_F(Exchange, ManagerCheck) {
  EXPECT_EQ(engine->VerificaGerenciadorPadrao(), 1);
  EXPECT_EQ(engine->str_msg_acumulada, "Gerenciador Padrao nao esta ATIVO.\r\n");
  startManager();
  captureRequests();
  engine->str_msg_acumulada.clear();
  EXPECT_EQ(engine->VerificaGerenciadorPadrao(), 0);
  EXPECT_EQ(engine->str_msg_acumulada, "");
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0],
            "000-000 = ATV\r\n001-000 = " + engine->cIdentificacao001 + "\r\n999-999 = 0\r\n");
}

TEST_F(Exchange, OperatorMessagesAreOneLineEach) {
  engine->Application_MessageBox("Linha um\r\nLinha dois", "Atenção");
  engine->Application_MessageBox("Operação", "");
  EXPECT_EQ(engine->str_msg_acumulada, "Linha um\\r\\nLinha dois\r\nOperacao\r\n");
}

TEST_F(Exchange, PendingSaleMarker) {
  engine->CriarArquivoTmpCupom("TesteCupom.zkt", "criar");
  EXPECT_EQ(get("Client/BKPINTPOS/TesteCupom.zkt"), "teste\r\n");
  engine->CriarArquivoTmpCupom("TesteCupom.zkt", "Eliminar");
  EXPECT_FALSE(has("Client/BKPINTPOS/TesteCupom.zkt"));
  engine->CriarArquivoTmpCupom("TesteCupom.zkt", "ELIMINAR");  // absent: no error
}

TEST_F(Exchange, CreatesItsFolders) {
  for (const char* d : {"drivezkt/tmp/tef_Sitef/multi", "Client/BKPINTPOS/Multi"})
    EXPECT_TRUE(std::filesystem::is_directory(at(d))) << d;
}

TEST_F(Exchange, IdleHookRunsDuringWaits) {
  int calls = 0;
  engine->idleHook = [&] { ++calls; };
  engine->VerificaGerenciadorPadrao();
  EXPECT_EQ(calls, 7);
}

}  // namespace

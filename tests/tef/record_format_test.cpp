// Field lines, the field table, amounts, identifiers and the operator-message clean-up.
#include "tef_fixture.h"

namespace {

using tef::TfrmTEFSitef;

TEST(RecordFormat, SplitsLinesByPosition) {
  struct Case {
    std::string line, codigo, campo2, dados;
  } cases[] = {
      {"009-000 = 0", "009", "000", "0"},
      {"029-001 = \"  COMPROVANTE  \"", "029", "001", "\"  COMPROVANTE  \""},
      {"565-008 = 1=123;2=52718094000236", "565", "008", "1=123;2=52718094000236"},
      {"030-000 = ", "030", "000", ""},  // exactly 10 characters
      {"12", "12", "", ""},
      {"", "", "", ""},
      {"010-000 = Crédito à vista", "010", "000", "Crédito à vista"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(TfrmTEFSitef::Tipo_De_Campo(c.line, "1"), c.codigo) << c.line;
    EXPECT_EQ(TfrmTEFSitef::Tipo_De_Campo(c.line, "2"), c.campo2) << c.line;
    EXPECT_EQ(TfrmTEFSitef::Dados_Do_Campo(c.line), c.dados) << c.line;
  }
}

TEST(RecordFormat, AmountsInCents) {
  struct Case {
    double reais;
    const char* cents;
  } cases[] = {
      {25.90, "2590"},          {0.29, "29"}, {0, "0"}, {10, "1000"}, {0.125, "13"}, {-5.5, "550"},
      {1234567.89, "123456789"}};
  for (const auto& c : cases) EXPECT_EQ(TfrmTEFSitef::ValorEmCentavos(c.reais), c.cents);
  EXPECT_THROW(TfrmTEFSitef::ValorEmCentavos(1e30), tef::TefError);
}

TEST(RecordFormat, OperatorMessageCleanUp) {
  struct Case {
    std::string in, out;
  } cases[] = {
      {"Transação não efetuada", "Transacao nao efetuada"},
      {"d'água", "d agua"},
      {"a\tb", "ab"},
      {"ÁÀÂÃáàâãÉÊÈéêèÍÎÌíîìÓÒÔÕóòôõÚÙÛúùûÇçªº", "AAAAaaaaEEEeeeIIIiiiOOOOooooUUUuuuCcoo"},
      {"/%$,.-_!@#&*(){}[]<>;:?|~^\"\\+= ok", "/%$,.-_!@#&*(){}[]<>;:?|~^\"\\+= ok"},
      {"`ñü\r\n€", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(TfrmTEFSitef::TiraAcento_TEF(c.in), c.out) << c.in;
}

class FieldTable : public TefTest {};

TEST_F(FieldTable, LoadsTheAnswerReplacingTheLastOne) {
  put("Client/RESP/INTPOS.001",
      answerText({"000-000 = CRT", "009-000 = 0", "", "029-001 = \"LINHA 1\"",
                  "030-000 = " + std::string(120, 'x'), "031-000 = \xC9 fim"}));
  engine->Coletar_Todos_os_dados_do_INTPOS001();
  EXPECT_EQ(xe->tblTEF.size(), 6u);
  EXPECT_EQ(engine->Coleta_Valor_Da_Transacao("009", "000"), "0");
  EXPECT_EQ(engine->Coleta_Valor_Da_Transacao("029", "001"), "\"LINHA 1\"");
  EXPECT_EQ(engine->Coleta_Valor_Da_Transacao("030", "000"), std::string(80, 'x'));
  EXPECT_EQ(engine->Coleta_Valor_Da_Transacao("031", "000"), "É fim");
  EXPECT_EQ(engine->Coleta_Valor_Da_Transacao("010", "000"), "");
  EXPECT_TRUE(has("drivezkt/tmp/tef_Sitef/INTPOS.TXT"));

  put("Client/RESP/INTPOS.001", answerText({"010-000 = VISA"}));
  engine->Coletar_Todos_os_dados_do_INTPOS001();
  EXPECT_EQ(xe->tblTEF.size(), 1u);
  EXPECT_EQ(engine->Coleta_Valor_Da_Transacao("009", "000"), "");
  EXPECT_EQ(engine->Coleta_Valor_Da_Transacao("010", "000"), "VISA");
}

TEST_F(FieldTable, ReceiptLineCount) {
  struct Case {
    std::string line;
    int result;
  } cases[] = {{"028-000 = 3", 0}, {"028-000 = 0", 1}, {"028-000 = ", 1}, {"009-000 = 0", 1}};
  for (const auto& c : cases) {
    put("Client/RESP/INTPOS.001", answerText({c.line}));
    engine->Coletar_Todos_os_dados_do_INTPOS001();
    EXPECT_EQ(engine->Tem_Cupom_para_Imprimir_28(), c.result) << c.line;
  }
  // A count that is not a number counts as receipt lines (finishing is the safe side), and
  // the log names the file, the field and the value.
  std::string logged;
  engine->onLog = [&](const std::string&, const std::string& m) { logged += m; };
  put("Client/RESP/INTPOS.001", answerText({"028-000 = 2a"}));
  engine->Coletar_Todos_os_dados_do_INTPOS001();
  EXPECT_EQ(engine->Tem_Cupom_para_Imprimir_28(), 0);
  EXPECT_NE(logged.find("C:\\CLIENT\\RESP\\INTPOS.001"), std::string::npos) << logged;
  EXPECT_NE(logged.find("028-000"), std::string::npos) << logged;
  EXPECT_NE(logged.find("\"2a\""), std::string::npos) << logged;
}

TEST_F(FieldTable, MissingAnswerIsAnErrorNamingTheFile) {
  try {
    engine->Coletar_Todos_os_dados_do_INTPOS001();
    FAIL() << "no error";
  } catch (const tef::TefError& e) {
    EXPECT_NE(std::string(e.what()).find("C:\\CLIENT\\RESP\\INTPOS.001"), std::string::npos);
  }
}

TEST_F(FieldTable, IdentifierIsTheSecondOfTheDay) {
  clock.set({2024, 3, 7, 9, 30, 0, 0});
  EXPECT_EQ(TfrmTEFSitef::MontaIdentificador(), "093000");
  clock.set({2024, 3, 7, 23, 5, 9, 999});
  EXPECT_EQ(TfrmTEFSitef::MontaIdentificador(), "230509");
}

}  // namespace

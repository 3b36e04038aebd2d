// The payment request cycle against the real engine, the manager stand-in on the virtual
// clock and the cloud mock on loopback.
#include "service_fixture.h"

namespace {

using State = sitefsim::Transaction::State;

const std::pair<std::string, std::string> GS{"Get status", "Ok  200"}, AT{"Ativar TEF", ""},
    S1{"Resposta TEF", "Sincronizador Ok = Sts 1"}, S2{"Gerenciador Inativo", "Sts 2"},
    S3{"Gerenciador ativo", "Sts 3"}, AG{"Aguardar resposta TEF", ""},
    S4{"Resposta TEF", "Operacao nao realizada = Sts 4"},
    S5{"Resposta TEF", "Operacao realizada = Sts 5"}, C7{"Operacao TEF confirmada", "Sts = 7"},
    C6{"Operacao TEF NAO confirmada", "Sts = 6"}, S8{"Resposta TEF", "Operacao realizada = Sts 8"},
    NC{"Gerenciador SITEF", "Nao configurado"};

struct CycleCase {
  const char* name;
  std::vector<std::pair<std::string, std::string>> payments;
  std::string script;
  std::string sitef;
  int decision;  // 6, 7; 0 none
  int after;     // "no decision" answers before it
  Lines log;
  std::vector<std::string> reports;  // endpoint:status in order
  std::vector<std::string> ops;      // transactions the manager carried out
  std::vector<std::string> cents;
  State finalState;
  int cloudStatus;
};

class Cycle : public ServiceTest, public ::testing::WithParamInterface<CycleCase> {};

TEST_P(Cycle, StatusesLogAndManager) {
  const CycleCase& c = GetParam();
  Settings s;
  s.sitef = c.sitef;
  startManager(c.script);
  start(s);
  const int64_t id = addRequest(57, c.payments);
  if (c.decision != 0) mock.setDecision(id, c.decision, c.after);
  // A wait that never ends stops here and fails below, instead of hanging the test.
  endAfterMs = clock.monotonicMs() + 10 * 60 * 1000;

  poll();

  EXPECT_EQ(log(), c.log);
  std::vector<std::string> reports;
  std::vector<int64_t> verificaTimes;
  for (const auto& r : mock.recorded()) {
    if (r.method != "POST") continue;
    auto body = cloudmock::Json::parse(r.body);
    std::string ep = r.path.substr(r.path.rfind('/') + 1);
    reports.push_back(body.contains("status") ? ep + ":" + body["status"].dump() : ep);
  }
  EXPECT_EQ(reports, c.reports);
  std::vector<std::string> ops, cents;
  for (const auto& t : journal().transactions) {
    ops.push_back(t.op);
    cents.push_back(t.cents);
    EXPECT_EQ(t.state(), c.finalState) << t.op << " " << t.nsu;
  }
  EXPECT_EQ(ops, c.ops);
  EXPECT_EQ(cents, c.cents);
  EXPECT_EQ(cloudStatus(id), c.cloudStatus);
  EXPECT_TRUE(errors.empty()) << errors.front();
  EXPECT_TRUE(svc->timerApi.Enabled);
  EXPECT_FALSE(fs::exists(drive("Client/BKPINTPOS/TesteCupom.zkt")));
}

INSTANTIATE_TEST_SUITE_P(
    Requests, Cycle,
    ::testing::Values(CycleCase{"one_payment_confirmed",
                                {{"CRT", "25.90"}},
                                "",
                                "SIM",
                                7,
                                0,
                                {GS, AT, S1, S3, AG, S5, C7, S8},
                                {"status:1", "status:3", "retorno:5", "verifica", "status:8"},
                                {"CRT"},
                                {"2590"},
                                State::Confirmed,
                                8},
                      CycleCase{"two_payments_undone",
                                {{"CRT", "10.00"}, {"CRT", "5,5"}},
                                "",
                                "SIM",
                                6,
                                0,
                                {GS, AT, S1, S3, AG, S5, C6, S8},
                                {"status:1", "status:3", "retorno:5", "verifica", "status:8"},
                                {"CRT", "CRT"},
                                {"1000", "550"},
                                State::Undone,
                                8},
                      CycleCase{"three_payments_pix_rule",
                                {{"PIX", "1"}, {"CRT", "2"}, {"PIX", "3"}},
                                "",
                                "SIM",
                                7,
                                0,
                                {GS, AT, S1, S3, AG, S5, C7, S8},
                                {"status:1", "status:3", "retorno:5", "verifica", "status:8"},
                                {"CARTDIGI", "CRT", "CARTDIGI"},
                                {"100", "200", "300"},
                                State::Confirmed,
                                8},
                      CycleCase{"decision_7_after_two_none",
                                {{"CRT", "25,90"}},
                                "",
                                "SIM",
                                7,
                                2,
                                {GS, AT, S1, S3, AG, S5, C7, S8},
                                {"status:1", "status:3", "retorno:5", "verifica", "verifica",
                                 "verifica", "status:8"},
                                {"CRT"},
                                {"2590"},
                                State::Confirmed,
                                8},
                      CycleCase{"declined",
                                {{"CRT", "25,90"}},
                                "CRT decline msg=\"Cartao recusado\"",
                                "SIM",
                                0,
                                0,
                                {GS, AT, S1, S3, AG, S4},
                                {"status:1", "status:3", "retorno:4"},
                                {},
                                {},
                                State::NoFinishNeeded,
                                4},
                      CycleCase{"manager_inactive",
                                {{"CRT", "25,90"}},
                                "ATV noack times=0",
                                "SIM",
                                0,
                                0,
                                {GS, AT, S1, S2},
                                {"status:1", "status:2"},
                                {},
                                {},
                                State::NoFinishNeeded,
                                2},
                      CycleCase{"sitef_off",
                                {{"CRT", "25,90"}},
                                "",
                                "NAO",
                                0,
                                0,
                                {GS, AT, S1, S2, NC},
                                {"status:1", "status:2"},
                                {},
                                {},
                                State::NoFinishNeeded,
                                2}),
    [](const ::testing::TestParamInfo<CycleCase>& info) { return info.param.name; });

// The cloud closed the request without deciding: nobody will confirm the sale, so it is
// undone and the request ends 8.
INSTANTIATE_TEST_SUITE_P(
    ClosedInTheCloud, Cycle,
    ::testing::Values(
        CycleCase{"status_4",
                  {{"CRT", "25,90"}},
                  "",
                  "SIM",
                  4,
                  1,
                  {GS,
                   AT,
                   S1,
                   S3,
                   AG,
                   S5,
                   {"Operacao TEF NAO confirmada", "Sts = 4: pedido encerrado sem decisao"},
                   S8},
                  {"status:1", "status:3", "retorno:5", "verifica", "verifica", "status:8"},
                  {"CRT"},
                  {"2590"},
                  State::Undone,
                  8},
        CycleCase{"status_8",
                  {{"CRT", "10.00"}, {"CRT", "5,5"}},
                  "",
                  "SIM",
                  8,
                  0,
                  {GS,
                   AT,
                   S1,
                   S3,
                   AG,
                   S5,
                   {"Operacao TEF NAO confirmada", "Sts = 8: pedido encerrado sem decisao"},
                   S8},
                  {"status:1", "status:3", "retorno:5", "verifica", "status:8"},
                  {"CRT", "CRT"},
                  {"1000", "550"},
                  State::Undone,
                  8}),
    [](const ::testing::TestParamInfo<CycleCase>& info) { return info.param.name; });

TEST_F(Cycle, DecisionQueriesComeFiveSecondsApart) {
  startManager();
  start();
  const int64_t id = addRequest(57, {{"CRT", "25,90"}});
  mock.setDecision(id, 7, 2);
  poll();
  auto retorno = sentAt("/retorno");
  auto verifica = sentAt("/verifica");
  ASSERT_EQ(retorno.size(), 1u);
  ASSERT_EQ(verifica.size(), 3u);
  EXPECT_EQ(verifica[0] - retorno[0], 5000);
  EXPECT_EQ(verifica[1] - verifica[0], 5000);
  EXPECT_EQ(verifica[2] - verifica[1], 5000);
}

TEST_F(Cycle, SaleGetsTheRequestAndTheCnpjAsTyped) {
  captureRequests();
  startManager();
  start();
  const int64_t id = addRequest(57, {{"CRT", "25,90"}});
  mock.setDecision(id, 7);
  poll();
  std::string crt;
  for (const auto& r : requests) {
    if (r.rfind("000-000 = CRT", 0) == 0) crt = r;
  }
  EXPECT_NE(crt.find("002-000 = 1057\r\n"), std::string::npos) << crt;
  EXPECT_NE(crt.find("003-000 = 2590\r\n"), std::string::npos) << crt;
  EXPECT_NE(crt.find("565-008 = 1=12.345.678/0001-90;"), std::string::npos) << crt;
}

TEST_F(Cycle, ApprovedSaleSendsTheAnswerTexts) {
  startManager("CRT approve receipt=2 msg=\"Aprovação\" times=0");
  start();
  const int64_t one = addRequest(57, {{"CRT", "25,90"}});
  mock.setDecision(one, 7);
  poll();
  auto texts = cloudTexts(one);
  std::string t1 = texts["texto_1"];
  EXPECT_NE(t1.find("009-000 = 0\r\n"), std::string::npos);
  EXPECT_NE(t1.find("Aprovação"), std::string::npos);  // Windows-1252 file, UTF-8 body
  EXPECT_EQ(t1.find('"'), std::string::npos);
  EXPECT_EQ(texts["texto_2"], "");
  EXPECT_EQ(texts["texto_3"], "");

  const int64_t two = addRequest(58, {{"CRT", "1"}, {"CRT", "2"}});
  mock.setDecision(two, 7);
  poll();
  texts = cloudTexts(two);
  EXPECT_NE(texts["texto_1"].get<std::string>().find("003-000 = 100\r\n"), std::string::npos);
  EXPECT_NE(texts["texto_2"].get<std::string>().find("003-000 = 200\r\n"), std::string::npos);
  EXPECT_EQ(texts["texto_3"], "");
}

TEST_F(Cycle, DeclinedSaleSendsTheOperatorMessages) {
  startManager("CRT decline msg=\"Saldo insuficiente\"");
  start();
  const int64_t id = addRequest(57, {{"CRT", "25,90"}});
  poll();
  std::string body = mock.bodies("retorno").at(0);
  EXPECT_EQ(body, " {\"id\":57\r\n,\"status\":4\r\n,\"texto_1\":\"Saldo insuficiente\\r\\n\"}\r\n");
  EXPECT_EQ(cloudStatus(id), 4);
}

// The engine writes line breaks inside its messages as \r and \n for the cloud to read: they
// arrive as line breaks, and a backslash that begins no escape arrives as itself.
TEST_F(Cycle, DeclinedSecondPaymentReachesTheCloudWithRealLineBreaks) {
  startManager("CRT approve\nCRT decline msg=\"Falha C:\\x \\u00e\"");
  start();
  const int64_t id = addRequest(57, {{"CRT", "25.90"}, {"CRT", "14.10"}});
  poll();
  EXPECT_EQ(cloudStatus(id), 4);
  const std::string texto = cloudTexts(id)["texto_1"];
  EXPECT_NE(texto.find("Falha C:\\x \\u00e\r\n"), std::string::npos) << texto;
  EXPECT_NE(texto.find("Favor Reter o Cupom\r\n Rede: REDECARD\r\n  NSU: "), std::string::npos)
      << texto;
  EXPECT_EQ(texto.find("\\r"), std::string::npos) << texto;
  EXPECT_EQ(texto.find("\\n"), std::string::npos) << texto;
  ASSERT_EQ(journal().transactions.size(), 1u);
  EXPECT_EQ(journal().transactions[0].state(), State::Undone);
}

// A card or PIX payment of no amount never reaches the manager (it would ask the operator
// for one): the request ends 4 with the reason.
TEST_F(Cycle, PaymentNotAboveZeroIsRefusedBeforeTheManager) {
  struct Case {
    std::vector<std::pair<std::string, std::string>> payments;
    const char* texto;
  } cases[] = {
      {{{"CRT", "0,00"}},
       "Valor do pagamento 1 (CRT) nao e maior que zero: 0,00. Pagamento nao enviado ao TEF."},
      {{{"CRT", ""}},
       "Valor do pagamento 1 (CRT) nao e maior que zero: vazio. Pagamento nao enviado ao TEF."},
      {{{"CRT", "10"}, {"PIX", "0"}},
       "Valor do pagamento 2 (CARTDIGI) nao e maior que zero: 0. Pagamento nao enviado ao TEF."},
  };
  startManager();
  start();
  int id = 57;
  for (const Case& c : cases) {
    svc->tblList.clear();
    addRequest(id, c.payments);
    poll();
    EXPECT_EQ(log(), (Lines{GS, AT, S1, {"Valor invalido", c.texto}, S4}));
    EXPECT_EQ(cloudStatus(id), 4);
    EXPECT_EQ(cloudTexts(id)["texto_1"], c.texto);
    EXPECT_TRUE(managerOps().empty());
    EXPECT_TRUE(errors.empty());
    ++id;
  }
}

TEST_F(Cycle, ErrorEndsTheTickAndStopsPollingUntilHabilitaInicial) {
  struct Case {
    const char* amount;
    bool blockBackup;   // a folder where the engine keeps the manager's answer
    const char* error;  // start of the error text
    size_t managerTransactions;
  } cases[] = {
      {"1.234,56", false, "'1,234,56' is not a valid floating point value", 0},
      {"25,90", true, "Arquivo ", 1},  // an error inside the engine
  };
  startManager();
  start();
  int id = 57;
  for (const Case& c : cases) {
    svc->tblList.clear();
    errors.clear();
    addRequest(id, {{"CRT", c.amount}});
    if (c.blockBackup) fs::create_directories(drive("Client/BKPINTPOS/INTPOS.001/x"));
    poll();
    fs::remove_all(drive("Client/BKPINTPOS/INTPOS.001"));
    Lines expected{GS, AT, S1, S3, AG};
    // The request an earlier error left at 3 is ended first: nothing of it was approved.
    if (id > 57)
      expected.insert(expected.begin(),
                      {{"Retomada TEF", "Pedido " + std::to_string(id - 1) +
                                            " interrompido antes da aprovacao ser informada"},
                       S4});
    EXPECT_EQ(log(), expected) << c.amount;
    if (id > 57) {
      EXPECT_EQ(cloudStatus(id - 1), 4);
    }
    ASSERT_EQ(errors.size(), 1u) << c.amount;
    EXPECT_EQ(errors[0].rfind(c.error, 0), 0u) << errors[0];
    EXPECT_FALSE(svc->timerApi.Enabled);  // until Habilita_inicial
    EXPECT_TRUE(svc->timerPing.Enabled);  // the heartbeat goes on
    EXPECT_EQ(cloudStatus(id), 3);
    EXPECT_EQ(journal().transactions.size(), c.managerTransactions);
    svc->Habilita_inicial();
    EXPECT_TRUE(svc->timerApi.Enabled);
    ++id;
  }
}

TEST_F(Cycle, NoOpenRequestLogsNothing) {
  startManager();
  start();
  mock.addRequest({{"id", 60}, {"empresa_id", 9}, {"status", 2}});
  mock.addRequest({{"id", 61}, {"empresa_id", 8}, {"status", 1}});
  poll();
  EXPECT_EQ(log(), Lines{});
  ASSERT_EQ(mock.recorded().size(), 1u);
  EXPECT_TRUE(svc->timerApi.Enabled);
}

TEST_F(Cycle, EndAskedDuringTheDecisionWaitLeavesTheSaleToRecovery) {
  startManager();
  start();
  const int64_t id = addRequest(57, {{"CRT", "25,90"}});
  // Asked to end before the sale: the exchange with the manager runs to its end first.
  endAfterMs = clock.monotonicMs() + 1;
  poll();
  EXPECT_TRUE(svc->endRequested);
  EXPECT_EQ(cloudStatus(id), 5);
  ASSERT_EQ(journal().transactions.size(), 1u);
  EXPECT_EQ(journal().transactions[0].state(), State::Pending);

  // The next run asks the cloud before anything else, applies its decision, ends the request
  // and only then takes the next one.
  endAfterMs = -1;
  createService();
  mock.setDecision(id, 6);
  const int64_t next = addRequest(58, {{"CRT", "1"}});
  mock.setDecision(next, 7);
  poll();
  auto tx = journal().transactions;
  ASSERT_EQ(tx.size(), 2u);
  EXPECT_EQ(tx[0].state(), State::Undone);
  EXPECT_EQ(tx[1].state(), State::Confirmed);
  EXPECT_EQ(cloudStatus(id), 8);
  EXPECT_EQ(cloudStatus(next), 8);
}

TEST_F(Cycle, AdmCommandSendsOneAdmWithTheCnpjDigits) {
  captureRequests();
  startManager();
  start();
  svc->SpeedButton1Click();
  // Nobody confirms the administrative transaction: it is finished (undone) right after.
  EXPECT_EQ(log(), (Lines{{"ADm - Sitef", ""},
                          {"Recuperacao TEF", "Transacao pendente encontrada apos o comando"},
                          {"Recuperacao TEF", "Transacao pendente finalizada"}}));
  EXPECT_EQ(journal().finishes().size(), 1u);
  EXPECT_EQ(journal().finishes()[0].rfind("NCN ", 0), 0u);
  std::string adm;
  for (const auto& r : requests) {
    if (r.rfind("000-000 = ADM", 0) == 0) adm = r;
  }
  EXPECT_NE(adm.find("565-008 = 1=12345678000190;"), std::string::npos) << adm;
  EXPECT_TRUE(mock.recorded().empty());  // nothing goes to the cloud
  EXPECT_TRUE(svc->frmTEFSelect().temTefSitef);

  Settings off;
  off.sitef = "NAO";
  writeSettings(off);
  svc->Habilita_inicial();
  requests.clear();
  svc->SpeedButton1Click();
  EXPECT_TRUE(requests.empty());
}

}  // namespace

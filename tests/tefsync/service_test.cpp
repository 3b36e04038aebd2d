// The service object: start-up, event log, cloud requests on the wire and their failures.
#include <sstream>

#include "platform/encoding.h"
#include "service_fixture.h"
#include "tefsync/core/HeadlessRunner.h"
#include "tefsync/core/safe_text.h"

namespace {

using cloudmock::Fault;

class Service : public ServiceTest {};

TEST_F(Service, StartUpCreatesFoldersAndSwitchesTimersOn) {
  start();
  EXPECT_TRUE(fs::is_directory(exeDir() + "ping"));
  EXPECT_TRUE(fs::is_directory(drive("drivezkt/tmp/tef")));
  EXPECT_TRUE(fs::is_directory(drive("drivezkt/tmp/tef_Sitef")));
  EXPECT_FALSE(fs::exists(drive("TEF_DIAL")));  // one level at a time: its parent is missing
  EXPECT_EQ(svc->Caption, "API de Integracao TEF x Velantra - Versão 2021.801");
  EXPECT_TRUE(svc->timerApi.Enabled);
  EXPECT_EQ(svc->timerApi.Interval, 1000);
  EXPECT_TRUE(svc->timerPing.Enabled);
  EXPECT_EQ(svc->timerPing.Interval, 10000);
  EXPECT_EQ(svc->uGetAPI, 0);
  EXPECT_EQ(svc->contaPing, 0);
  EXPECT_FALSE(svc->btnguiaTesteVisible);
  EXPECT_FALSE(svc->frmTEFSelect().temTefSitef);
  EXPECT_EQ(svc->frmConfig().urlBase, mock.baseUrl());
  svc->btnguiaTesteClick();
  EXPECT_FALSE(svc->pageVisible);
}

TEST_F(Service, TestComputerShowsTheTestGuide) {
  computerName = "QUADRIX";
  start();
  EXPECT_TRUE(svc->btnguiaTesteVisible);
  svc->btnguiaTesteClick();
  EXPECT_TRUE(svc->pageVisible);
}

TEST_F(Service, LogHoldsAtMost1001Rows) {
  start();
  rowsSeen.clear();
  for (int i = 0; i < 1001; ++i) svc->addList("op" + std::to_string(i));
  EXPECT_EQ(svc->tblList.size(), 1001u);
  svc->addList("next", "msg");
  ASSERT_EQ(svc->tblList.size(), 1u);
  EXPECT_EQ(svc->tblList[0].Operacao, "next");
  EXPECT_EQ(svc->tblList[0].Mensagem, "msg");
  EXPECT_EQ(rowsSeen.size(), 1002u);
}

TEST_F(Service, LogLineFormat) {
  struct Case {
    tefsync::LogRow row;
    const char* line;
  } cases[] = {
      {{"Ativar TEF", {2024, 3, 7, 9, 5, 4, 0}, ""}, "07/03/2024 09:05:04 | Ativar TEF | "},
      {{"Get status", {2024, 12, 31, 23, 59, 59, 999}, "Ok  200"},
       "31/12/2024 23:59:59 | Get status | Ok  200"},
      {{"a\r\nb", {2024, 1, 2, 3, 4, 5, 0}, "x\ny\r"}, "02/01/2024 03:04:05 | a\\r\\nb | x\\ny\\r"},
  };
  for (const Case& c : cases) EXPECT_EQ(tefsync::formatLogLine(c.row), c.line);
}

TEST_F(Service, HabilitaInicialRereadsSettings) {
  start();
  svc->frmConfig().urlBase = "typed but not saved";
  svc->habilTimer("API", false);
  svc->habilTimer("OUTRO", true);
  EXPECT_FALSE(svc->timerApi.Enabled);
  svc->contaPing = 123;
  svc->Habilita_inicial();
  EXPECT_EQ(svc->frmConfig().urlBase, mock.baseUrl());
  EXPECT_TRUE(svc->timerApi.Enabled);
  EXPECT_EQ(svc->contaPing, 0);
}

TEST_F(Service, RequestsOnTheWire) {
  Settings s;
  start(s);
  s.url = "  " + mock.baseUrl() + "  ";  // ".../api/" with blanks around
  writeSettings(s);
  svc->Habilita_inicial();
  addRequest(57, {{"CRT", "1"}});
  ASSERT_TRUE(svc->get_Status());
  svc->Gravar_status_API("1");
  svc->coleta_retorno_API_6_7();

  auto rec = mock.recorded();
  ASSERT_EQ(rec.size(), 3u);
  EXPECT_EQ(rec[0].method, "GET");
  EXPECT_EQ(rec[0].path, "/api");
  EXPECT_EQ(rec[0].body, "");
  EXPECT_EQ(rec[0].header("Content-Type"), "");
  EXPECT_EQ(rec[1].path, "/api//status");
  EXPECT_EQ(rec[1].body, "{\"id\":57,\"status\":1}\r\n");
  EXPECT_EQ(rec[1].header("Content-Length"), "22");
  EXPECT_EQ(rec[1].header("Content-Type"), "application/json");
  EXPECT_EQ(rec[2].path, "/api//verifica");
  EXPECT_EQ(rec[2].body, "{\"id\":57}\r\n");
  for (const auto& r : rec) {
    EXPECT_EQ(r.header("Accept"), "application/json, text/plain; q=0.9, text/html;q=0.8,");
    EXPECT_EQ(r.header("Accept-Charset"), "utf-8, *;q=0.8");
    EXPECT_EQ(r.header("Authorization"), std::string("Bearer ") + kToken);
    EXPECT_EQ(r.remotePort, rec[0].remotePort);  // one connection for all
  }
  EXPECT_EQ(svc->mmoRequest, "{\"id\":57}\r\n");
  EXPECT_EQ(svc->mmoDados, "{\"id\":57}\r\n");
}

TEST_F(Service, StatusAnswerFillsTheSelectionAndBuffers) {
  start();
  addRequest(57, {{"PIX", "12.50"}, {"CRT", "3"}});
  ASSERT_TRUE(svc->get_Status());
  EXPECT_EQ(svc->id_do_processo, 57);
  EXPECT_EQ(svc->nroCupom_in, 1057);
  EXPECT_EQ(svc->MatProcesso,
            (std::array<std::string, 6>{"CARTDIGI", "12,50", "CRT", "3", "", ""}));
  std::string T = cloudmock::Json::parse(svc->mmoDados).dump();
  EXPECT_EQ(svc->mmoDados, T);
  EXPECT_EQ(svc->mmoResult, T + "\r\n");
  EXPECT_EQ(log(), (Lines{{"Get status", "Ok  200"}}));
}

struct FailureCase {
  const char* name;
  Fault fault;
  bool selected;
  Lines log;
  bool resultKept;  // mmoResult still holds the previous answer
};

class StatusFailure : public ServiceTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(StatusFailure, LogAndBuffers) {
  const FailureCase& c = GetParam();
  start();
  ASSERT_FALSE(svc->get_Status());  // an empty list
  const std::string previous = svc->mmoResult;
  addRequest(57, {{"CRT", "1"}});
  mock.addFault(c.fault);
  EXPECT_EQ(svc->get_Status(), c.selected);
  EXPECT_EQ(svc->id_do_processo, 0);
  Lines got = log();
  if (!got.empty() && got[0].first == "Get status erro 2") got[0].second = "";  // the cause
  EXPECT_EQ(got, c.log);
  EXPECT_EQ(svc->mmoResult == previous, c.resultKept);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, StatusFailure,
    ::testing::Values(
        FailureCase{"not_json", {"notjson", "get"}, false, {{"Get status erro 2", ""}}, true},
        FailureCase{"http_500_is_an_answer", {"http500", "get"}, false, {}, false},
        FailureCase{"code_as_text", {"code_as_text", "get"}, false, {}, false}),
    [](const ::testing::TestParamInfo<FailureCase>& info) { return info.param.name; });

TEST_F(Service, UnreachableOrUnsetServiceIsLogged) {
  Settings s;
  s.url = " ";
  start(s);
  EXPECT_FALSE(svc->get_Status());
  EXPECT_EQ(log(), (Lines{{"Get status erro 2", "URL Base nao configurada"}}));
  svc->Gravar_status_API("3");
  EXPECT_EQ(log().back(), (std::pair<std::string, std::string>{"Gerenciador ativo", "Sts 3"}));
  EXPECT_EQ(log()[1].first, "Erro: status");

  s.url = "http://127.0.0.1:1/api/";  // nothing listens there
  writeSettings(s);
  svc->Habilita_inicial();
  svc->tblList.clear();
  EXPECT_FALSE(svc->get_Status());
  ASSERT_EQ(log().size(), 1u);
  EXPECT_EQ(log()[0].first, "Get status erro 2");
  EXPECT_FALSE(log()[0].second.empty());
}

TEST_F(Service, FailedReportsDoNotStopTheCycle) {
  startManager();
  start();
  const int64_t id = addRequest(57, {{"CRT", "25,90"}});
  mock.setDecision(id, 7);
  mock.addFault({"notjson", "status", 1});
  mock.addFault({"http500", "retorno", 1});
  mock.addFault({"third_member", "verifica", 2});
  mock.addFault({"notjson", "verifica", 1});
  poll();
  Lines got = log();
  for (auto& l : got) {
    if (l.first.rfind("Erro: ", 0) == 0) l.second = "";
  }
  EXPECT_EQ(got, (Lines{{"Get status", "Ok  200"},
                        {"Ativar TEF", ""},
                        {"Erro: status", ""},
                        {"Resposta TEF", "Sincronizador Ok = Sts 1"},
                        {"Gerenciador ativo", "Sts 3"},
                        {"Aguardar resposta TEF", ""},
                        {"Resposta TEF", "Operacao realizada = Sts 5"},
                        {"Erro: verifica_6_7", ""},
                        // The cloud cannot decide on a sale it never heard of.
                        {"Resposta TEF", "Pedido em Sts 3 na nuvem; Sts 5 reenviado"},
                        {"Resposta TEF", "Operacao realizada = Sts 5"},
                        {"Operacao TEF confirmada", "Sts = 7"},
                        {"Resposta TEF", "Operacao realizada = Sts 8"}}));
  // Two unreadable, one not JSON, one at 3, then 7.
  EXPECT_EQ(mock.bodies("verifica").size(), 5u);
  EXPECT_EQ(cloudStatus(id), 8);
}

TEST_F(Service, BrokenRecordsArePassedOverWithOneRowEachPoll) {
  start();
  mock.addRequest({{"id", 99999999999}, {"empresa_id", 8}, {"status", 1}});
  mock.addRequest({{"id", 12}, {"empresa_id", 9}, {"status", 1.0}});
  addRequest(57, {{"CRT", "1"}});
  const std::pair<std::string, std::string> skipped{
      "Get status",
      "2 requisicoes ignoradas (id 99999999999, id 12): Campo id fora da faixa: 99999999999"};
  for (int poll = 0; poll < 2; ++poll) {
    svc->tblList.clear();
    ASSERT_TRUE(svc->get_Status());
    EXPECT_EQ(svc->id_do_processo, 57);
    EXPECT_EQ(log(), (Lines{skipped, {"Get status", "Ok  200"}}));
  }
}

// The service as a shop runs it without a window: the event log on standard output, errors
// on standard error.
class Headless : public ServiceTest {
 protected:
  void startHeadless(Settings s = {}) {
    mock.start();
    writeSettings(std::move(s));
    tefsync::TfrmPrincipal::Environment env;
    env.exeDir = exeDir();
    env.computerName = computerName;
    runner = std::make_unique<tefsync::HeadlessRunner>(env, out, err);
    runner->svc().FormCreate();
  }
  // Every line written, standard output and standard error, and every log row.
  std::vector<std::string> shown() const {
    std::vector<std::string> texts;
    for (const std::ostringstream* stream : {&out, &err}) {
      std::istringstream in(stream->str());
      for (std::string l; std::getline(in, l);) texts.push_back(l);
    }
    for (const auto& r : runner->svc().tblList) texts.push_back(r.Operacao + " | " + r.Mensagem);
    return texts;
  }

  std::ostringstream out, err;
  std::unique_ptr<tefsync::HeadlessRunner> runner;
};

// Cloud values and manager messages with line breaks or terminal controls: each row is
// still one line, on every output.
TEST_F(Headless, TextsFromOutsideNeverAddALine) {
  startManager("CRT decline msg=\"Negada\\r\\n\x1b[2J\"");
  startHeadless();
  mock.addRequest({{"id", "7\r\n07/03/2024 09:05:04 | Get status | Ok  200"}, {"empresa_id", 9}});
  addRequest(57, {{"CRT", "1\r\nforged | row"}});
  runner->svc().uGetAPI = 0;
  runner->svc().timerApiTimer();
  runner->svc().Habilita_inicial();
  addRequest(58, {{"CRT", "5"}});
  runner->svc().uGetAPI = 0;
  runner->svc().timerApiTimer();

  const std::vector<std::string> texts = shown();
  for (const std::string& t : texts) {
    EXPECT_EQ(t.find_first_of("\r\x1b"), std::string::npos) << t;
    if (t.find("forged") != std::string::npos) {
      EXPECT_NE(t.find("1\\r\\nforged"), std::string::npos) << t;
    }
  }
  EXPECT_EQ(err.str(), "tefsync: '1\\r\\nforged | row' is not a valid floating point value\n");
  const std::string stdoutText = out.str();
  EXPECT_NE(
      stdoutText.find("| Get status | Requisicao ignorada (id 7\\r\\n07/03/2024 09:05:04 | Get "
                      "status | Ok...)"),
      std::string::npos)
      << stdoutText;
  // The status 4 text keeps its own line breaks for the cloud.
  EXPECT_EQ(cloudStatus(58), 4);
  EXPECT_NE(cloudTexts(58)["texto_1"].get<std::string>().find("Negada\r\n"), std::string::npos);
}

TEST_F(Headless, TheTokenNeverShowsWholeOrCut) {
  startHeadless();
  const std::string token = kToken;
  const std::string echoes[] = {
      "\"Authorization: Bearer " + token + "\r\nHost: cloud\r\n",  // headers echoed
      "\"Bearer " + token.substr(0, 12),                           // cut mid-token
      R"({"code":200,"data":[{"id":1,"requisicao_1":"Bearer )" + token + R"("}]})",
  };
  for (const std::string& body : echoes) {
    mock.addFault({"notjson", "get", 1, 0, body});
    runner->svc().uGetAPI = 0;
    runner->svc().timerApiTimer();
  }
  mock.addFault({"notjson", "status", 1, 0, echoes[1]});
  runner->svc().Gravar_status_API("1");

  const std::vector<std::string> texts = shown();
  ASSERT_GE(texts.size(), 8u);  // each answer left its rows
  for (const std::string& t : texts) {
    for (size_t p = 0; p + tefsync::kMinSecretPiece <= token.size(); ++p)
      EXPECT_EQ(t.find(token.substr(p, tefsync::kMinSecretPiece)), std::string::npos) << t;
  }
}

TEST_F(Service, PlainHttpToAnotherComputerIsWarnedAtStartAndAfterEachSave) {
  const std::pair<std::string, std::string> warning{
      "Aviso",
      "URL Base http://cloud.example/api sem https: o token de acesso segue sem criptografia "
      "pela rede"};
  Settings s;
  s.url = "http://cloud.example/api/";
  start(s);
  EXPECT_EQ(log(), Lines{warning});

  struct Case {
    const char* url;
    bool warned;
  } saves[] = {
      {"cloud.example/api", true},  // "http://" goes in front
      {"https://cloud.example/api", false},
      {"http://localhost:8080/api", false},
      {"http://cloud.example/api", true},
  };
  for (const Case& c : saves) {
    svc->tblList.clear();
    svc->frmConfig().Show();
    svc->frmConfig().urlBase = c.url;
    svc->frmConfig().btnSalvarClick();
    EXPECT_EQ(log().size(), c.warned ? 1u : 0u) << c.url;
    if (c.warned) {
      EXPECT_EQ(log()[0].first, "Aviso");
    }
  }
  // Activating the window re-reads the settings but warns no more.
  svc->tblList.clear();
  svc->Habilita_inicial();
  EXPECT_EQ(log(), Lines{});
}

TEST_F(Service, TokenNeverReachesTheLog) {
  start();
  std::string echoed = std::string("\"") + kToken;  // an answer that echoes the token
  mock.addFault({"notjson", "get", 1, 0, echoed});
  EXPECT_FALSE(svc->get_Status());
  mock.addFault({"notjson", "status", 1, 0, echoed});
  svc->Gravar_status_API("1");
  Settings s;
  s.url = std::string("http://127.0.0.1:1/") + kToken;
  writeSettings(s);
  svc->Habilita_inicial();
  EXPECT_FALSE(svc->get_Status());
  ASSERT_GE(svc->tblList.size(), 3u);
  for (const auto& r : svc->tblList) {
    EXPECT_EQ(r.Mensagem.find(kToken), std::string::npos) << r.Mensagem;
    EXPECT_EQ(r.Operacao.find(kToken), std::string::npos) << r.Operacao;
  }
}

TEST_F(Service, TokenWithALineBreakIsRefused) {
  start();
  svc->frmConfig().token_velantra = "abc\r\nX-Injected: 1";
  EXPECT_FALSE(svc->get_Status());
  EXPECT_EQ(log(), (Lines{{"Get status erro 2", "Token Velantra com caractere invalido"}}));
  EXPECT_TRUE(mock.recorded().empty());
}

}  // namespace

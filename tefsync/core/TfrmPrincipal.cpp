#include "tefsync/core/TfrmPrincipal.h"

#include <cstdio>
#include <optional>
#include <utility>

#include "common/funcoes_zkt.h"
#include "platform/fs.h"
#include "tefsync/core/cloud_api.h"

namespace tefsync {
namespace {

const char* const kAccept = "application/json, text/plain; q=0.9, text/html;q=0.8,";
const char* const kAcceptCharset = "utf-8, *;q=0.8";

std::string lowerAscii(std::string s) {
  for (char& c : s) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return s;
}

std::string escapeLineBreaks(const std::string& s) {
  std::string out;
  for (char c : s) {
    if (c == '\r')
      out += "\\r";
    else if (c == '\n')
      out += "\\n";
    else
      out += c;
  }
  return out;
}

// The lines of a multi-line text, as a memo holds them: a final line break ends the last
// line rather than starting an empty one.
std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::string line;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '\r' || c == '\n') {
      lines.push_back(line);
      line.clear();
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      line += c;
    }
  }
  if (!line.empty()) lines.push_back(line);
  return lines;
}

}  // namespace

std::string formatLogLine(const LogRow& row) {
  char stamp[32];
  const plat::DateTime& d = row.DataHora;
  std::snprintf(stamp, sizeof stamp, "%02d/%02d/%04d %02d:%02d:%02d", d.day % 100, d.month % 100,
                d.year % 10000, d.hour % 100, d.minute % 100, d.second % 100);
  return std::string(stamp) + " | " + escapeLineBreaks(row.Operacao) + " | " +
         escapeLineBreaks(row.Mensagem);
}

void TimerState::setEnabled(bool on) {
  if (on && !Enabled) ++armed;
  Enabled = on;
}

void TimerState::setInterval(int ms) {
  if (ms != Interval) {
    Interval = ms;
    if (Enabled) ++armed;
  }
}

TfrmPrincipal::TfrmPrincipal(Environment env) : env_(std::move(env)) {
  timerApi.Interval = 1000;
  timerPing.Interval = 10000;
}

TfrmPrincipal::~TfrmPrincipal() {
  // The engine goes before the companion and the selection it refers to.
  frmTEFSitef_.reset();
  frmTefSitef_XE_.reset();
}

void TfrmPrincipal::FormCreate() {
  if (env_.exeDir.empty()) env_.exeDir = zkt::Path_Do_Executavel();
  if (env_.computerName.empty()) env_.computerName = zkt::Nome_do_pc();
  if (env_.configFile.empty()) env_.configFile = env_.exeDir + TfrmConfig::kArquivo;
  if (!env_.makeHttp)
    env_.makeHttp = [](const std::string& ca) { return plat::makeHttpClient(ca); };
  http_ = env_.makeHttp(env_.caFile);

  frmConfig_ = std::make_unique<TfrmConfig>(env_.configFile);
  dtmAplicativo_ = std::make_unique<TdtmAplicativo>();
  dtmConfig_ = std::make_unique<TdtmConfig>();
  frmTEFSelect_ = std::make_unique<fiscal::TfrmTEFSelect>();
  frmTEFSelect_->temTefSitef = dtmAplicativo_->temTefSitef;
  frmTEFSelect_->PortaCom_ECF = dtmConfig_->tblConfig.porta_com;
  // The dial-up window: only its folder creation runs; failures are ignored.
  for (const char* dir :
       {"c:\\drivezkt\\tmp\\", "c:\\drivezkt\\tmp\\tef\\", "C:\\TEF_DIAL\\BKPINTPOS\\"})
    plat::createDir(dir);
  frmTefSitef_XE_ = std::make_unique<tef::TfrmTefSitef_XE>();
  frmTEFSitef_ = std::make_unique<tef::TfrmTEFSitef>(*frmTefSitef_XE_, *frmTEFSelect_);
  // The engine waits with plain pauses; the heartbeat is answered from them. An end
  // request waits for the exchange with the manager to finish (the decision wait honours
  // it), so nothing is left half sent.
  frmTEFSitef_->idleHook = [this] {
    // A payment stored for a later one was approved: the sale may have moved money.
    if (saleRunning_ && frmTEFSitef_->Testa_file_multiplos("TESTE", "1")) approvalSeen_ = true;
    Testar_Ping();
  };
  const size_t pasta = env_.configFile.find_last_of("/\\");
  taken_ = std::make_unique<TakenRequests>(
      (pasta == std::string::npos ? std::string() : env_.configFile.substr(0, pasta + 1)) +
      TakenRequests::kArquivo);

  Habilita_inicial();
  uGetAPI = 0;
  btnguiaTesteVisible = testComputer();
  plat::createDir(env_.exeDir + "ping");
}

void TfrmPrincipal::addList(const std::string& OperIn, const std::string& MensagemIn) {
  if (tblListAberta) {
    if (tblList.size() > 1000) tblList.clear();
    tblList.push_back(LogRow{OperIn, plat::clock().now(), MensagemIn});
    if (onAddList) onAddList(tblList.back());
  }
  if (onRepaint) onRepaint();
}

void TfrmPrincipal::habilTimer(const std::string& qualIn, bool HabilitaIn) {
  if (qualIn == "API") timerApi.setEnabled(HabilitaIn);
}

void TfrmPrincipal::Habilita_inicial() {
  habilTimer("API", false);
  bool loaded = false;
  try {
    frmConfig_->LoadConfig();
    loaded = true;
  } catch (const std::exception& e) {
    // Unreadable settings keep the values already loaded; the timers still come on so
    // the heartbeat is answered.
    showError(e.what());
  }
  Caption = kTitulo;
  habilTimer("API", true);
  timerPing.setEnabled(true);
  contaPing = 0;
  tblListAberta = true;
  if (loaded && !frmConfig_->AvisoTimerApi().empty())
    addList("Configuracao invalida", frmConfig_->AvisoTimerApi());
}

template <typename Fn>
void TfrmPrincipal::guarded(bool exclusive, Fn&& fn) {
  // A poll or a sale must not start inside another (a shell's nested event loop).
  if (exclusive && inTick_) return;
  const bool outer = !inTick_;
  if (exclusive) inTick_ = true;
  std::string error;
  bool failed = false;
  bool ending = false;
  try {
    fn();
  } catch (const ProgramEnding&) {
    ending = true;
  } catch (const std::exception& e) {
    failed = true;
    error = e.what();
  } catch (...) {
    failed = true;
    error = "Erro desconhecido";
  }
  if (exclusive && outer) inTick_ = false;
  // The box comes after the tick has ended: the heartbeat ticks while it is open.
  if (failed) showError(error);
  if (outer && !deferredBox_.empty()) showError(std::exchange(deferredBox_, {}));
  if (ending) btnCloseClick();
}

void TfrmPrincipal::showError(const std::string& message) {
  std::string text = scrub(message);
  if (onErrorBox)
    onErrorBox(text);
  else
    addList("Erro", text);
}

void TfrmPrincipal::checkEnd() {
  if (endPending && endPending()) throw ProgramEnding();
}

std::string TfrmPrincipal::scrub(std::string message) const {
  for (const std::string* secret :
       {&token_de_acesso, frmConfig_ ? &frmConfig_->token_velantra : &token_de_acesso}) {
    if (secret->empty()) continue;
    for (size_t p = message.find(*secret); p != std::string::npos; p = message.find(*secret, p + 3))
      message.replace(p, secret->size(), "***");
  }
  return message;
}

void TfrmPrincipal::timerApiTimer() {
  guarded(true, [this] { timerApiTimerBody(); });
}

void TfrmPrincipal::timerPingTimer() {
  guarded(false, [this] { Testar_Ping(); });
}

void TfrmPrincipal::SpeedButton1Click() {
  guarded(true, [this] {
    if (!frmConfig_->chkTefSitef) return;
    frmTEFSelect_->temTefSitef = true;
    addList("ADm - Sitef");
    frmTEFSitef_->cnpj_da_empresa = zkt::somenteNumeros(frmConfig_->edtCnpjTEf);
    if (frmTEFSitef_->VerificaGerenciadorPadrao() == 0)
      frmTEFSitef_->RealizaTransacaoCRT("0.00", "ADM", "NAO_HA", 0, 0, 0);
  });
}

void TfrmPrincipal::btnCloseClick() {
  endRequested = true;
  if (onEndRequested) onEndRequested();
}

void TfrmPrincipal::sairClick() {
  btnCloseClick();
}

void TfrmPrincipal::btnguiaTesteClick() {
  if (btnguiaTesteVisible) pageVisible = !pageVisible;
}

void TfrmPrincipal::timerApiTimerBody() {
  habilTimer("API", false);
  timerApi.setInterval(1000);
  const int64_t now = timerSeconds();
  if (uGetAPI < now) {
    int period = frmConfig_->timerApiValue();
    if (period < 1) period = TfrmConfig::kTimerApiPadrao;
    uGetAPI = now + period;
    if (!settingsError() && get_Status()) carryOutRequest();
  }
  habilTimer("API", true);
}

int64_t TfrmPrincipal::timerSeconds() {
  // The monotonic clock may read 0 (a virtual clock at its start); 0 means "due at once".
  return plat::clock().monotonicMs() / 1000 + 1;
}

bool TfrmPrincipal::settingsError() {
  if (frmConfig_->ErroConfiguracao().empty()) {
    settingsErrorShown_.clear();
    return false;
  }
  // Polling waits for the file to be mended: read it again each period meanwhile.
  try {
    frmConfig_->LoadConfig();
  } catch (const std::exception&) {
    // The values already loaded stay; the row below names the one at fault.
  }
  const std::string erro = frmConfig_->ErroConfiguracao();
  if (erro.empty()) {
    settingsErrorShown_.clear();
    return false;
  }
  addList("Configuracao invalida", erro);
  if (erro != settingsErrorShown_) deferredBox_ = settingsErrorShown_ = erro;
  return true;
}

bool TfrmPrincipal::resendTakenOutcome() {
  const std::optional<TakenRequests::Entry> e = taken_->find(id_do_processo);
  if (!e || TakenRequests::mayTakeAgain(*e)) return false;
  // Its sale reached the manager: the cloud gets that sale's last report again instead.
  addList("Requisicao ja realizada",
          "Id " + std::to_string(id_do_processo) + " reenviado Sts " + std::to_string(e->status));
  memoTef1 = e->texts[0];
  memoTef2 = e->texts[1];
  memoTef3 = e->texts[2];
  Gravar_status_API(std::to_string(e->status));
  return true;
}

void TfrmPrincipal::recordOutcome(int status) {
  // A status 4 report carries only the first text.
  taken_->record({id_do_processo,
                  status,
                  approvalSeen_,
                  {memoTef1, status == 4 ? "" : memoTef2, status == 4 ? "" : memoTef3}});
}

void TfrmPrincipal::carryOutRequest() {
  tef::TfrmTEFSitef& engine = *frmTEFSitef_;
  if (resendTakenOutcome()) return;
  addList("Ativar TEF");
  Gravar_status_API("1");
  if (!frmConfig_->chkTefSitef) {
    Gravar_status_API("2");
    addList("Gerenciador SITEF", "Nao configurado");
    return;
  }
  frmTEFSelect_->temTefSitef = true;
  if (engine.VerificaGerenciadorPadrao() != 0) {
    Gravar_status_API("2");
    return;
  }
  Gravar_status_API("3");
  engine.Verifica_Transacao_Pendente();
  engine.cnpj_da_empresa = frmConfig_->edtCnpjTEf;  // as typed; only "ADM - Sitef" cleans it
  addList("Aguardar resposta TEF");
  const std::string operacoes = operationList(MatProcesso);
  const double valor1 = convertAmount(MatProcesso[1]);
  const double valor2 = convertAmount(MatProcesso[3]);
  const double valor3 = convertAmount(MatProcesso[5]);
  Testar_Ping();
  // Recorded before the manager sees anything: from here this id is never sold again.
  approvalSeen_ = false;
  recordOutcome(3);
  const bool markerBefore = plat::fileExists(engine.ArqMarcador());
  saleRunning_ = true;
  int resultado = 1;
  try {
    resultado = engine.RealizaTransacaoCRT(std::to_string(nroCupom_in), operacoes, "EXTERNO",
                                           valor1, valor2, valor3);
  } catch (...) {
    saleRunning_ = false;
    throw;
  }
  saleRunning_ = false;
  if (resultado != 0) {
    // A marker the sale left means a payment may still need its undo: it may have moved money.
    if (!markerBefore && plat::fileExists(engine.ArqMarcador())) approvalSeen_ = true;
    memoTef1 = engine.str_msg_acumulada;
    recordOutcome(4);
    Gravar_status_API("4");
    return;
  }
  approvalSeen_ = true;
  memoTef1.clear();
  memoTef2.clear();
  memoTef3.clear();
  memoTef1 = plat::readText(kArqRetorno);
  std::string* buffers[] = {&memoTef1, &memoTef2, &memoTef3};
  for (int n = 1; n <= 3; ++n) {
    if (engine.Testa_file_multiplos("TESTE", std::to_string(n)))
      *buffers[n - 1] = plat::readText(kArqMulti + std::to_string(n));
  }
  recordOutcome(5);
  Gravar_status_API("5");
  waitDecision();
}

void TfrmPrincipal::waitDecision() {
  tef::TfrmTEFSitef& engine = *frmTEFSitef_;
  for (;;) {
    if (onRepaint) onRepaint();
    Testar_Ping();
    checkEnd();
    plat::clock().sleepMs(kDecisionPauseMs);
    checkEnd();
    const int decisao = coleta_retorno_API_6_7();
    if (decisao == 6) {
      engine.NaoConfirmaTransacao();
      addList("Operacao TEF NAO confirmada", "Sts = 6");
      recordOutcome(8);
      Gravar_status_API("8");
      return;
    }
    if (decisao == 7) {
      engine.ConfirmaTransacao();
      addList("Operacao TEF confirmada", "Sts = 7");
      recordOutcome(8);
      Gravar_status_API("8");
      return;
    }
  }
}

plat::HttpResponse TfrmPrincipal::send(const std::string& method, const std::string& url,
                                       const std::string& body, long timeoutMs) {
  const std::string formed = formUrl(url);
  if (formed.empty()) throw CloudError("URL Base nao configurada");
  // A line break in the token would let it write headers of its own.
  if (token_de_acesso.find_first_of("\r\n", 0) != std::string::npos ||
      token_de_acesso.find('\0') != std::string::npos)
    throw CloudError("Token Velantra com caractere invalido");
  plat::HttpHeaders headers = {{"Accept", kAccept}, {"Accept-Charset", kAcceptCharset}};
  if (method == "POST") headers.emplace_back("Content-Type", "application/json");
  headers.emplace_back("Authorization", "Bearer " + token_de_acesso);
  return http_->send(method, formed, headers, body, timeoutMs);
}

bool TfrmPrincipal::get_Status() {
  urlBase = frmConfig_->urlBase;
  token_de_acesso = frmConfig_->token_velantra;
  id_do_processo = 0;
  try {
    plat::HttpResponse r = send("GET", urlBase, "", kStatusTimeoutMs);
    const std::string T = compactJson(r.body);
    mmoDados = T;
    SelectionRules rules{frmConfig_->idvelantraValue(), frmConfig_->IdCaixaValue(), testComputer()};
    Selection s = parseStatusAnswer(T, rules, MatProcesso);
    MatProcesso = s.mat;
    if (s.selected) {
      id_do_processo = s.id;
      nroCupom_in = s.numero;
    }
    mmoResult = T + "\r\n";
    if (!s.selected) return false;
    addList("Get status", "Ok  200");
    return true;
  } catch (const std::exception& e) {
    addList("Get status erro 2", scrub(e.what()));
    return false;
  }
}

void TfrmPrincipal::Post_Enviar_Dados(const std::string& qualEnvio, const std::string& Valor1) {
  const std::string q = lowerAscii(qualEnvio);
  std::string path;
  if (q == "status") {
    path = "/status";
    mmoDados = buildStatusBody(id_do_processo, Valor1);
  } else if (q == "retorno") {
    path = "/retorno";
    memoTef1 = cleanTefText(memoTef1);
    memoTef2 = cleanTefText(memoTef2);
    memoTef3 = cleanTefText(memoTef3);
    mmoDados = buildRetornoBody(id_do_processo, Valor1, memoTef1, memoTef2, memoTef3);
  } else if (q == "verifica_6_7") {
    path = "/verifica";
    mmoDados = buildVerificaBody(id_do_processo);
  } else {
    return;
  }
  try {
    mmoRequest = mmoDados;
    plat::HttpResponse r = send("POST", urlBase + path, mmoDados, kReportTimeoutMs);
    const std::string T = compactJson(r.body);
    if (q == "verifica_6_7") Status_6_7 = readDecision(T);
  } catch (const std::exception& e) {
    addList("Erro: " + q, scrub(e.what()));
  }
}

void TfrmPrincipal::Gravar_status_API(const std::string& StatusIn) {
  struct Row {
    const char* status;
    const char* qual;
    const char* operacao;
    const char* mensagem;
  };
  static const Row table[] = {
      {"1", "status", "Resposta TEF", "Sincronizador Ok = Sts 1"},
      {"2", "status", "Gerenciador Inativo", "Sts 2"},
      {"3", "status", "Gerenciador ativo", "Sts 3"},
      {"4", "retorno", "Resposta TEF", "Operacao nao realizada = Sts 4"},
      {"5", "retorno", "Resposta TEF", "Operacao realizada = Sts 5"},
      {"8", "status", "Resposta TEF", "Operacao realizada = Sts 8"},
  };
  for (const Row& row : table) {
    if (StatusIn == row.status) {
      Post_Enviar_Dados(row.qual, StatusIn);
      addList(row.operacao, row.mensagem);
      break;
    }
  }
  if (onRepaint) onRepaint();
}

int TfrmPrincipal::coleta_retorno_API_6_7() {
  Status_6_7 = 0;
  Post_Enviar_Dados("verifica_6_7", "");
  if (Status_6_7 == 6) return 6;
  if (Status_6_7 == 7) return 7;
  return 1;
}

std::string TfrmPrincipal::pingFolder() const {
  return env_.exeDir + "ping" + plat::separator();
}

void TfrmPrincipal::Testar_Ping() {
  const int64_t now = timerSeconds();
  if (contaPing != 0 && contaPing + 15 >= now) return;
  contaPing = now;
  const std::string teste = pingFolder() + "test-ping.txt";
  if (!plat::fileExists(teste)) return;
  // A heartbeat file that cannot be written must not end a sale in progress.
  try {
    plat::deleteFile(teste);
    addList("Resp-Ping.txt");
    std::string content;
    for (const std::string& line : linesOf(mmoResult)) content += line + "\r\n";
    plat::writeText(pingFolder() + "resp-ping.txt", content);
  } catch (const std::exception& e) {
    addList("Resp-Ping.txt", scrub(e.what()));
  }
}

}  // namespace tefsync

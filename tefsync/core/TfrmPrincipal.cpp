#include "tefsync/core/TfrmPrincipal.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <utility>

#include "common/funcoes_zkt.h"
#include "platform/child.h"
#include "platform/fs.h"
#include "tefsync/core/cloud_api.h"
#include "tefsync/core/safe_text.h"

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
  return std::string(stamp) + " | " + escapeControls(row.Operacao) + " | " +
         escapeControls(row.Mensagem);
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

TfrmPrincipal::TfrmPrincipal(Shell& shell, Environment env) : shell_(shell), env_(std::move(env)) {
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
  if (!env_.exitNow) env_.exitNow = [](int code) { plat::exitNow(code); };
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
  // The lock below needs the backup folder even on a computer whose manager is not
  // installed yet (the engine creates only the levels under it).
  plat::createDir("C:\\CLIENT\\");
  frmTefSitef_XE_ = std::make_unique<tef::TfrmTefSitef_XE>();
  frmTEFSitef_ = std::make_unique<tef::TfrmTEFSitef>(*frmTefSitef_XE_, *frmTEFSelect_);
  // Before anything of the engine's state is read: a second synchronizer on one manager would
  // undo the first one's sales and sell its requests twice.
  plat::FileLock::Result exclusivo{};
  std::string porque;
  exclusivo_ = plat::FileLock::tryTake(kArqExclusivo, exclusivo, porque);
  if (exclusivo == plat::FileLock::Result::Held) throw SincronizadorEmExecucao();
  if (exclusivo == plat::FileLock::Result::Failed)
    throw std::runtime_error("O sincronizador não pode iniciar: " + porque);
  // The engine waits with plain pauses; the heartbeat is answered and an end request
  // honoured from them.
  frmTEFSitef_->idleHook = [this] {
    // A payment stored for a later one was approved: the sale may have moved money.
    if (saleRunning_ && frmTEFSitef_->Testa_file_multiplos("TESTE", "1")) approvalSeen_ = true;
    whileManagerWaits();
  };
  frmTEFSitef_->onLog = [this](const std::string& op, const std::string& m) { addList(op, m); };
  const size_t pasta = env_.configFile.find_last_of("/\\");
  taken_ = std::make_unique<TakenRequests>(
      (pasta == std::string::npos ? std::string() : env_.configFile.substr(0, pasta + 1)) +
      TakenRequests::kArquivo);
  taken_->onLog = [this](const std::string& op, const std::string& m) { addList(op, m); };

  Habilita_inicial();
  uGetAPI = 0;
  btnguiaTesteVisible = testComputer();
  plat::createDir(env_.exeDir + "ping");
  avisaUrlSemCriptografia();
  frmConfig_->aposSalvar = [this] { avisaUrlSemCriptografia(); };
}

void TfrmPrincipal::avisaUrlSemCriptografia() {
  if (plainHttpOffLoopback(frmConfig_->urlBase))
    addList("Aviso", "URL Base " + formUrl(frmConfig_->urlBase) +
                         " sem https: o token de acesso segue sem criptografia pela rede");
}

void TfrmPrincipal::addList(const std::string& OperIn, const std::string& MensagemIn) {
  if (tblListAberta) {
    if (tblList.size() > 1000) tblList.clear();
    // Texts from outside (cloud values, manager messages, errors) cannot add lines or show
    // the token.
    tblList.push_back(LogRow{scrub(OperIn), plat::clock().now(), scrub(MensagemIn)});
    shell_.logRowAdded(tblList.back());
  }
  shell_.stateChanged();
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
  if (outer) managerWait_.active = false;
  // The box comes after the tick has ended: the heartbeat ticks while it is open.
  if (failed) showError(error);
  if (outer && !deferredBox_.empty()) showError(std::exchange(deferredBox_, {}));
  if (ending) btnCloseClick();
}

void TfrmPrincipal::showError(const std::string& message) {
  shell_.showError(scrub(message));
}

void TfrmPrincipal::whileManagerWaits() {
  const int64_t now = plat::clock().monotonicMs();
  // Each request to the manager carries its own identifier: a new one starts a new wait.
  const std::string& id = frmTEFSitef_->cIdentificacao001;
  if (!managerWait_.active || managerWait_.id != id) managerWait_ = {true, id, now, false};
  if (endRequested || shell_.endPending()) {
    if (endSeenMs_ < 0) endSeenMs_ = now;
    if (now - endSeenMs_ >= kEndDuringManagerWaitMs) {
      // Nothing more reaches the manager's folders: the pending recovery finishes the
      // transaction at the next start, as after a power cut.
      addList("Encerrar", "Programa encerrado durante a espera pelo gerenciador TEF");
      env_.exitNow(0);
    }
  }
  if (now - managerWait_.sinceMs >= kPingDuringManagerWaitMs) {
    if (!managerWait_.pingRefused) {
      managerWait_.pingRefused = true;
      addList("Resp-Ping.txt",
              "Nao respondido: gerenciador TEF sem resposta ha mais de 10 minutos");
    }
    return;
  }
  Testar_Ping();
}

void TfrmPrincipal::checkEnd() {
  if (shell_.endPending()) throw ProgramEnding();
}

std::string TfrmPrincipal::scrub(const std::string& message) const {
  // Every token this run has used: a late answer may still quote one replaced since.
  for (const std::string* token :
       {&token_de_acesso, frmConfig_ ? &frmConfig_->token_velantra : &token_de_acesso}) {
    if (token->empty() ||
        std::find(tokensVistos_.begin(), tokensVistos_.end(), *token) != tokensVistos_.end())
      continue;
    if (tokensVistos_.size() >= 16) tokensVistos_.erase(tokensVistos_.begin());
    tokensVistos_.push_back(*token);
  }
  return safeText(message, tokensVistos_);
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
    tef::TfrmTEFSitef& engine = *frmTEFSitef_;
    engine.cnpj_da_empresa = zkt::somenteNumeros(frmConfig_->edtCnpjTEf);
    // Its recovery would undo a sale whose decision belongs to the cloud.
    if (!taken_->open().empty()) {
      addList("ADm - Sitef", kPedidoAberto);
      throw std::runtime_error(kPedidoAberto);
    }
    if (engine.VerificaGerenciadorPadrao() != 0) return;
    // Unfinished work would be refused silently: finish it first, as every cloud request
    // does, and tell the operator when it still cannot be finished.
    if (engine.TemTransacaoPorFinalizar()) {
      engine.Verifica_Transacao_Pendente();
      if (engine.TemTransacaoPorFinalizar()) {
        addList("ADm - Sitef", tef::TfrmTEFSitef::kPendente);
        throw std::runtime_error(tef::TfrmTEFSitef::kPendente);
      }
    }
    engine.RealizaTransacaoCRT("0.00", "ADM", "NAO_HA", 0, 0, 0);
    // Nobody confirms the administrative transaction: what it kept is finished right away.
    finalizaPendencias("apos o comando");
  });
}

void TfrmPrincipal::btnCloseClick() {
  endRequested = true;
  shell_.endProgram();
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
    // Unfinished money is finished whatever else is wrong with the settings; a request that
    // is still open comes before any new one.
    if (resumeOpenRequests()) {
      // Nothing kept to finish waits for the next request.
      finalizaPendencias(inicio_ ? "na inicializacao" : "sem operacao em curso");
      inicio_ = false;
      if (!settingsError() && get_Status()) {
        carryOutRequest();
        // What the sale found or left (a late approval, an unacknowledged finish) is
        // finished in the same tick.
        if (taken_->open().empty()) finalizaPendencias("apos a venda");
      }
    }
  }
  habilTimer("API", true);
}

void TfrmPrincipal::finalizaPendencias(const char* quando) {
  tef::TfrmTEFSitef& engine = *frmTEFSitef_;
  const bool pendente = engine.TemTransacaoPorFinalizar() || engine.pasta().temMarcador() ||
                        engine.pasta().temResposta();
  if (!frmConfig_->chkTefSitef || !pendente) {
    recuperacao_ = Recuperacao::Nada;
    return;
  }
  // One row per change of state, not one per tick.
  const auto estado = [this](Recuperacao novo, const std::string& texto) {
    if (novo != recuperacao_) addList("Recuperacao TEF", texto);
    recuperacao_ = novo;
  };
  // An error here must not stop polling: it is tried again at the next poll.
  try {
    frmTEFSelect_->temTefSitef = true;
    if (engine.VerificaGerenciadorPadrao() != 0) {
      estado(Recuperacao::GerenciadorInativo,
             "Gerenciador inativo; nova tentativa na proxima consulta");
      return;
    }
    if (recuperacao_ != Recuperacao::NaoFinalizada)
      addList("Recuperacao TEF", std::string("Transacao pendente encontrada ") + quando);
    const int r = engine.Verifica_Transacao_Pendente();
    if (r == 0 && !engine.TemTransacaoPorFinalizar()) {
      addList("Recuperacao TEF", "Transacao pendente finalizada");
      recuperacao_ = Recuperacao::Nada;
    } else {
      estado(Recuperacao::NaoFinalizada, "Transacao pendente nao finalizada");
    }
  } catch (const std::exception& e) {
    estado(Recuperacao::Erro, scrub(e.what()));
  }
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

void TfrmPrincipal::recordOutcome(int status, bool entregue) {
  // A status 4 report carries only the first text.
  TakenRequests::Entry e{id_do_processo,
                         status,
                         approvalSeen_,
                         {memoTef1, status == 4 ? "" : memoTef2, status == 4 ? "" : memoTef3}};
  e.numero = nroCupom_in;
  e.nsus = nsusVenda_;
  e.entregue = entregue;
  taken_->record(std::move(e));
}

bool TfrmPrincipal::record(int status, std::string& why, bool entregue) {
  try {
    recordOutcome(status, entregue);
    return true;
  } catch (const std::exception& e) {
    why = scrub(e.what());
    addList("Registro de requisicoes", why);
    return false;
  }
}

void TfrmPrincipal::reportFinal(int status) {
  std::string why;
  // Written before the report: a cut while it travels sends it again at the next start.
  record(status, why, false);
  Gravar_status_API(std::to_string(status));
  if (envioOk_) record(status, why, true);
}

std::vector<std::string> TfrmPrincipal::saleNsus() const {
  std::vector<std::string> out;
  for (const std::string* t : {&memoTef1, &memoTef2, &memoTef3}) {
    const std::string nsu = tef::campoDoTexto(*t, "012");
    if (!nsu.empty()) out.push_back(nsu);
  }
  return out;
}

bool TfrmPrincipal::saleOf(const TakenRequests::Entry& e) {
  const std::string cupom = std::to_string(e.numero);
  for (const tef::Finalizacao& t : frmTEFSitef_->pasta().transacoesPendentes()) {
    if (t.cupom == cupom) return true;
    if (!t.nsu.empty() && std::find(e.nsus.begin(), e.nsus.end(), t.nsu) != e.nsus.end())
      return true;
  }
  return false;
}

bool TfrmPrincipal::resumeOpenRequests() {
  // A record that cannot be read ends the tick with its error: without it nobody can tell
  // which requests were sold, so none is taken.
  const std::vector<TakenRequests::Entry> abertas = taken_->open();
  if (abertas.empty()) {
    retomadaAvisada_ = false;
    return true;
  }
  // The reports go where the settings say now, as a poll's would.
  urlBase = frmConfig_->urlBase;
  token_de_acesso = frmConfig_->token_velantra;
  tef::TfrmTEFSitef& engine = *frmTEFSitef_;
  for (const TakenRequests::Entry& e : abertas) {
    id_do_processo = static_cast<int32_t>(e.id);
    nroCupom_in = static_cast<int32_t>(e.numero);
    nsusVenda_ = e.nsus;
    approvalSeen_ = e.approved;
    memoTef1 = e.texts[0];
    memoTef2 = e.texts[1];
    memoTef3 = e.texts[2];
    const std::string pedido = "Pedido " + std::to_string(e.id);
    if (e.status == 4 || e.status == 8) {
      // Its report never reached the cloud.
      addList("Retomada TEF", pedido + ": Sts " + std::to_string(e.status) + " reenviado");
      reportFinal(e.status);
      continue;
    }
    frmTEFSelect_->temTefSitef = true;
    if (engine.VerificaGerenciadorPadrao() != 0) {
      if (!retomadaAvisada_)
        addList("Retomada TEF",
                pedido + ": gerenciador inativo; nova tentativa na proxima consulta");
      retomadaAvisada_ = true;
      return false;
    }
    retomadaAvisada_ = false;
    if (e.status == 3) {
      // The cloud never heard of an approval: whatever the sale left is undone, and the cloud
      // is told the sale was not carried out.
      tef::PastaDeRecuperacao& pasta = engine.pasta();
      approvalSeen_ = e.approved || pasta.temRespostaGuardada() || pasta.temPagamentoGuardado() ||
                      pasta.temResposta();
      engine.str_msg_acumulada.clear();
      addList("Retomada TEF", pedido + " interrompido antes da aprovacao ser informada");
      // Also with nothing to finish: it clears what a cut left half written.
      engine.Verifica_Transacao_Pendente();
      memoTef1 = engine.str_msg_acumulada.empty() ? std::string(kVendaInterrompida)
                                                  : engine.str_msg_acumulada;
      reportFinal(4);
      continue;
    }
    const bool held = saleOf(e);
    if (e.status == 6 || e.status == 7) {
      addList("Retomada TEF", pedido + ": decisao Sts " + std::to_string(e.status) + " retomada");
      applyDecision(e.status == 7, true, held, {});
      continue;
    }
    addList("Retomada TEF", pedido + " aguardando a decisao da nuvem" +
                                (held ? std::string() : "; nenhuma venda pendente"));
    waitDecision(true, held);
  }
  return true;
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
  // Refused before the manager sees anything: it would ask the operator for the amount.
  const std::string recusa = amountRefusal(MatProcesso);
  if (!recusa.empty()) {
    addList("Valor invalido", recusa);
    memoTef1 = recusa;
    Gravar_status_API("4");
    return;
  }
  frmTEFSelect_->temTefSitef = true;
  if (engine.VerificaGerenciadorPadrao() != 0) {
    Gravar_status_API("2");
    return;
  }
  // Recorded before the cloud hears of it and before the manager sees anything of the sale:
  // from here this id is never sold again, and a restart knows what to finish.
  approvalSeen_ = false;
  nsusVenda_.clear();
  memoTef1.clear();
  memoTef2.clear();
  memoTef3.clear();
  std::string why;
  if (!record(3, why)) {
    memoTef1 = kRegistroIndisponivel + why;
    Gravar_status_API("4");
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
    reportFinal(4);
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
  nsusVenda_ = saleNsus();
  if (!record(5, why)) {
    // A sale the record cannot link to its request would be undone by a restart while the
    // cloud believes it carried out: it is undone now and the cloud told so.
    engine.NaoConfirmaTransacao();
    addList("Operacao TEF NAO confirmada", kRegistroIndisponivel + why);
    memoTef1 = kRegistroIndisponivel + why;
    memoTef2.clear();
    memoTef3.clear();
    Gravar_status_API("4");
    return;
  }
  Gravar_status_API("5");
  waitDecision(false, true);
}

void TfrmPrincipal::applyDecision(bool confirm, bool resumed, bool saleHeld,
                                  const std::string& why) {
  tef::TfrmTEFSitef& engine = *frmTEFSitef_;
  std::string erro;
  // The decision is kept before it is applied: a cut in between applies it at the next start.
  record(confirm ? 7 : 6, erro, false);
  if (saleHeld) {
    if (!resumed) {
      if (confirm)
        engine.ConfirmaTransacao();
      else
        engine.NaoConfirmaTransacao();
    } else {
      // After a restart the stored sale is finished by the recovery: without the marker it
      // confirms every payment, with it it undoes them.
      if (confirm) engine.pasta().fechaVenda();
      engine.Verifica_Transacao_Pendente();
    }
  }
  if (confirm)
    addList("Operacao TEF confirmada", "Sts = 7");
  else
    addList("Operacao TEF NAO confirmada", why.empty() ? std::string("Sts = 6") : why);
  reportFinal(8);
}

void TfrmPrincipal::waitDecision(bool resumed, bool saleHeld) {
  // Resumed after a restart, the cloud is asked at once.
  bool pause = !resumed;
  for (;;) {
    shell_.stateChanged();
    Testar_Ping();
    checkEnd();
    if (pause) plat::clock().sleepMs(kDecisionPauseMs);
    pause = true;
    checkEnd();
    const int decisao = coleta_retorno_API_6_7();
    if (decisao == 6 || decisao == 7) {
      applyDecision(decisao == 7, resumed, saleHeld, {});
      return;
    }
    if (decisao == 4 || decisao == 8) {
      // Closed in the cloud without a decision: nobody will confirm the sale.
      applyDecision(false, resumed, saleHeld,
                    "Sts = " + std::to_string(decisao) + ": pedido encerrado sem decisao");
      return;
    }
    if (statusNaNuvem_ >= 1 && statusNaNuvem_ <= 3) {
      // The status 5 report never arrived: nobody can decide on a sale the cloud has not seen.
      addList("Resposta TEF",
              "Pedido em Sts " + std::to_string(statusNaNuvem_) + " na nuvem; Sts 5 reenviado");
      const std::string t1 = memoTef1, t2 = memoTef2, t3 = memoTef3;
      Gravar_status_API("5");
      memoTef1 = t1;
      memoTef2 = t2;
      memoTef3 = t3;
    }
  }
}

plat::HttpResponse TfrmPrincipal::send(const std::string& method, const std::string& url,
                                       const std::string& body, long timeoutMs) {
  const std::string formed = formUrl(url);
  if (formed.empty()) throw CloudError("URL Base nao configurada");
  // A line break in the token would let it write headers of its own.
  // Nor may any other control character: the log could no longer recognise it to mask it.
  for (unsigned char c : token_de_acesso) {
    if (c < 0x20 || c == 0x7F) throw CloudError("Token Velantra com caractere invalido");
  }
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
    if (!s.skipped.empty()) addList("Get status", skippedRecordsText(s.skipped));
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
  envioOk_ = false;
  try {
    mmoRequest = mmoDados;
    plat::HttpResponse r = send("POST", urlBase + path, mmoDados, kReportTimeoutMs);
    const std::string T = compactJson(r.body);
    // A server fault did not take the report; a refusal (4xx) is the cloud's last word.
    if (q == "verifica_6_7") {
      Status_6_7 = readDecision(T);
      statusNaNuvem_ = readCurrentStatus(T);
    }
    envioOk_ = r.status < 500;
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
  shell_.stateChanged();
}

int TfrmPrincipal::coleta_retorno_API_6_7() {
  Status_6_7 = 0;
  statusNaNuvem_ = 0;
  Post_Enviar_Dados("verifica_6_7", "");
  if (Status_6_7 == 6) return 6;
  if (Status_6_7 == 7) return 7;
  if (Status_6_7 == 4 || Status_6_7 == 8) return Status_6_7;  // closed without a decision
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

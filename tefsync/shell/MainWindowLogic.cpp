#include "tefsync/shell/MainWindowLogic.h"

#include <exception>

#include "common/funcoes_zkt.h"
#include "platform/clock.h"

namespace tefsync {

MainWindowLogic::MainWindowLogic(TfrmPrincipal::Environment env, MainWindowView& view,
                                 std::ostream& out, std::ostream& err)
    : view_(view), out_(out), err_(err), svc_(*this, std::move(env)), schedule_(svc_) {}

void MainWindowLogic::FormCreate() {
  svc_.FormCreate();
  created_ = true;
  syncTimers();
  view_.refresh();
}

void MainWindowLogic::syncTimers() {
  const auto restarted = schedule_.sync(plat::clock().monotonicMs());
  for (auto which : {TimerSchedule::kApi, TimerSchedule::kPing}) {
    if (schedule_.dueMs(which) < 0)
      view_.stopTimer(which);
    else if (restarted[which])
      view_.restartTimer(which, schedule_.state(which).Interval);
  }
}

void MainWindowLogic::timerFired(TimerSchedule::Which which) {
  // A timer message already queued when its timer was switched off.
  if (schedule_.dueMs(which) < 0) {
    view_.stopTimer(which);
    return;
  }
  if (which == TimerSchedule::kApi)
    svc_.timerApiTimer();
  else
    svc_.timerPingTimer();
  // The next tick comes one interval after this one ended.
  schedule_.ticked(which, plat::clock().monotonicMs());
  if (schedule_.dueMs(which) < 0)
    view_.stopTimer(which);
  else
    view_.restartTimer(which, schedule_.state(which).Interval);
  afterCommand();
}

void MainWindowLogic::afterCommand() {
  syncTimers();
  view_.refresh();
}

void MainWindowLogic::activated() {
  // While the prompt, the dialog or an error box is open, activating the window must not
  // switch polling back on: a sale could start while the operator edits the settings.
  if (modalOpen()) return;
  svc_.Habilita_inicial();
  afterCommand();
}

void MainWindowLogic::restauraClick() {
  view_.showMainWindow();
  // Showing activates the window; the settings are re-read even when it was active.
  activated();
}

void MainWindowLogic::btnConfigClick() {
  if (gateOpen_) return;  // a second open while one is open is ignored
  gateOpen_ = true;
  try {
    svc_.habilTimer("API", false);
    syncTimers();
    const plat::DateTime today = plat::clock().now();
    const std::string expected = zkt::Calcula_senha_do_dia("", today, svc_.computerName());
    const std::string prompt = "Informe a senha do dia: " + zkt::Formata_Data("DD/MM/AA", today);
    const std::optional<std::string> answer = view_.inputBox("Senha do dia", prompt);
    if (answer && *answer == expected) {
      view_.settingsDialog();
      svc_.Habilita_inicial();
    }
  } catch (const std::exception& e) {
    // Through the service, which masks the token and escapes control characters.
    svc_.showError(e.what());
  }
  svc_.habilTimer("API", true);
  gateOpen_ = false;
  afterCommand();
}

void MainWindowLogic::SpeedButton1Click() {
  svc_.SpeedButton1Click();
  afterCommand();
}

void MainWindowLogic::btnguiaTesteClick() {
  svc_.btnguiaTesteClick();
  afterCommand();
}

void MainWindowLogic::btnCloseClick() {
  svc_.btnCloseClick();
}

void MainWindowLogic::sairClick() {
  svc_.sairClick();
}

void MainWindowLogic::endSession() {
  svc_.sairClick();
}

bool MainWindowLogic::checkEndRequest() {
  if (!endPending()) return false;
  svc_.sairClick();
  return true;
}

void MainWindowLogic::showPendingErrors() {
  if (showingError_) return;
  showingError_ = true;
  while (!pendingErrors_.empty()) {
    const std::string message = pendingErrors_.front();
    pendingErrors_.pop_front();
    view_.errorBox(message);
  }
  showingError_ = false;
  afterCommand();
}

void MainWindowLogic::logRowAdded(const LogRow& row) {
  out_ << formatLogLine(row) << std::endl;
  out_.clear();  // a reader that went away loses the line, never the program
}

void MainWindowLogic::stateChanged() {
  if (created_) view_.refresh();
}

// Shown once the tick or command that raised it has ended, so the heartbeat ticks still
// run while the box is open.
void MainWindowLogic::showError(const std::string& message) {
  err_ << "tefsync: " << message << std::endl;
  err_.clear();
  pendingErrors_.push_back(message);
  view_.postShowErrors();
}

void MainWindowLogic::endProgram() {
  view_.quit();
}

bool MainWindowLogic::endPending() {
  return stopRequested && stopRequested();
}

// ---- settings dialog ----

ConfigFields ConfigFields::from(const TfrmConfig& cfg) {
  return ConfigFields{cfg.token_velantra, cfg.edtCnpjTEf, cfg.idvelantra,  cfg.IdCaixa,
                      cfg.urlBase,        cfg.timerApi,   cfg.chkTefSitef, cfg.chkTefCielo};
}

void ConfigFields::to(TfrmConfig& cfg) const {
  cfg.token_velantra = token_velantra;
  cfg.edtCnpjTEf = edtCnpjTEf;
  cfg.idvelantra = idvelantra;
  cfg.IdCaixa = IdCaixa;
  cfg.urlBase = urlBase;
  cfg.timerApi = timerApi;
  cfg.chkTefSitef = chkTefSitef;
  cfg.chkTefCielo = chkTefCielo;
}

ConfigFields ConfigDialogLogic::shown() {
  try {
    cfg_.Show();
  } catch (const std::exception& e) {
    errorBox_(e.what());
  }
  return ConfigFields::from(cfg_);
}

bool ConfigDialogLogic::salvar(const ConfigFields& typed) {
  typed.to(cfg_);
  try {
    cfg_.btnSalvarClick();
  } catch (const std::exception& e) {
    // The file is unchanged; the dialog stays open with what was typed.
    errorBox_(e.what());
    return false;
  }
  return true;
}

void ConfigDialogLogic::voltar() {
  try {
    cfg_.btnsairClick();
  } catch (const std::exception& e) {
    errorBox_(e.what());
  }
}

std::optional<ConfigFields> ConfigDialogLogic::cancelar() {
  try {
    cfg_.btnCancelarClick();
  } catch (const std::exception& e) {
    errorBox_(e.what());
    return std::nullopt;
  }
  return ConfigFields::from(cfg_);
}

}  // namespace tefsync

// What tefsync's window shells do, free of any window toolkit: the main window's commands,
// the access-code gate, the error boxes after a tick and the two timers, and the settings
// dialog's buttons. Each shell (Qt on Linux, Win32 on Windows) implements MainWindowView
// with its real windows and forwards its events here; tests use a fake view.
#pragma once

#include <deque>
#include <functional>
#include <optional>
#include <ostream>
#include <string>

#include "tefsync/core/TfrmPrincipal.h"
#include "tefsync/core/TimerSchedule.h"

namespace tefsync {

// The windows the logic drives.
class MainWindowView {
 public:
  virtual ~MainWindowView() = default;
  // Starts the timer over with this interval (a running one restarts).
  virtual void restartTimer(TimerSchedule::Which which, int intervalMs) = 0;
  virtual void stopTimer(TimerSchedule::Which which) = 0;
  // Shows the main window as it was last, brings it to the front and activates it.
  virtual void showMainWindow() = 0;
  // Title, test-guide controls, text buffers and the event log as the service has them.
  virtual void refresh() = 0;
  // The modal input box: the typed text, or nothing when cancelled.
  virtual std::optional<std::string> inputBox(const std::string& caption,
                                              const std::string& prompt) = 0;
  // The settings dialog, modal; returns once it has closed.
  virtual void settingsDialog() = 0;
  // The standard error box, modal.
  virtual void errorBox(const std::string& message) = 0;
  // Asks the event loop to call MainWindowLogic::showPendingErrors once the current event
  // has been handled.
  virtual void postShowErrors() = 0;
  // Leaves the event loop.
  virtual void quit() = 0;
};

class MainWindowLogic final : public Shell {
 public:
  MainWindowLogic(TfrmPrincipal::Environment env, MainWindowView& view, std::ostream& out,
                  std::ostream& err);

  TfrmPrincipal& svc() { return svc_; }
  const TimerSchedule& schedule() const { return schedule_; }

  // Start-up: the service's FormCreate, then both timers.
  void FormCreate();
  // A tick of one of the service's timers.
  void timerFired(TimerSchedule::Which which);
  // The main window became active: Habilita_inicial.
  void activated();
  // "Restaurar programa - Norvanta" and the double click on the tray icon.
  void restauraClick();
  void btnConfigClick();
  void SpeedButton1Click();
  void btnguiaTesteClick();
  void btnCloseClick();
  void sairClick();
  // The system is shutting down or logging off: the program ends as "Sair do sistema" does.
  void endSession();
  // Called every kEndRequestPollMs by a timer of the view: an end asked for from outside
  // (stopRequested) takes the path of "Sair do sistema". True once it has; the view then
  // stops that timer.
  bool checkEndRequest();
  static constexpr int kEndRequestPollMs = 200;
  // The error boxes queued by showError, one after another.
  void showPendingErrors();
  // A prompt, the settings dialog or an error box is open.
  bool modalOpen() const { return gateOpen_ || showingError_; }
  // Starts or stops the view's timers as the service has switched them.
  void syncTimers();

  // Shell
  void logRowAdded(const LogRow& row) override;
  void stateChanged() override;
  void showError(const std::string& message) override;
  void endProgram() override;
  bool endPending() override;

  // Asked during long waits: an end was requested from outside (a stop signal or a
  // console end event).
  std::function<bool()> stopRequested;

 private:
  void afterCommand();

  MainWindowView& view_;
  std::ostream& out_;
  std::ostream& err_;
  TfrmPrincipal svc_;
  TimerSchedule schedule_;
  bool gateOpen_ = false;
  bool showingError_ = false;
  bool created_ = false;
  std::deque<std::string> pendingErrors_;
};

// The settings dialog's fields as typed.
struct ConfigFields {
  std::string token_velantra;
  std::string edtCnpjTEf;
  std::string idvelantra;
  std::string IdCaixa;
  std::string urlBase;
  std::string timerApi;
  bool chkTefSitef = false;
  bool chkTefCielo = false;

  static ConfigFields from(const TfrmConfig& cfg);
  void to(TfrmConfig& cfg) const;
  bool operator==(const ConfigFields&) const = default;
};

// What the settings dialog does with its buttons, over the live settings object.
class ConfigDialogLogic {
 public:
  ConfigDialogLogic(TfrmConfig& cfg, std::function<void(const std::string&)> errorBox)
      : cfg_(cfg), errorBox_(std::move(errorBox)) {}
  // The dialog is shown: the file is read again; the fields to show.
  ConfigFields shown();
  // "Salvar": true when the file was written and the dialog closes; on failure the error
  // box, and the dialog stays open with what was typed.
  bool salvar(const ConfigFields& typed);
  // "Voltar" (also Escape and the close box): closes without writing.
  void voltar();
  // "Cancelar": the file's values again, the dialog stays open; nothing on failure.
  std::optional<ConfigFields> cancelar();

 private:
  TfrmConfig& cfg_;
  std::function<void(const std::string&)> errorBox_;
};

// A whole-number field takes at most this many digits: they always fit the integer the
// service reads.
inline constexpr int kWholeNumberDigits = 9;

}  // namespace tefsync

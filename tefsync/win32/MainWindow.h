// The Windows shell of tefsync: the tray icon, the main window with its buttons and the
// event log, the access-code box and the settings dialog, all plain Win32 (wide API). What
// they do is MainWindowLogic's; this file only shows it and forwards messages.
#pragma once

#include <windows.h>

#include <functional>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>

#include "shells/win32/shell_win32.h"
#include "tefsync/shell/MainWindowLogic.h"
#include "tefsync/win32/Desktop.h"

namespace tefsync::win32 {

using shells::win32::kTrayMessage;

// No window could be made (Wine without a display).
class NoWindow : public std::runtime_error {
 public:
  NoWindow() : std::runtime_error("Janela principal não pôde ser criada") {}
};

class MainWindow final : public MainWindowView {
 public:
  // Creates the hidden main window and the tray icon, then the service (FormCreate).
  // Throws NoWindow when the window cannot be created.
  MainWindow(TfrmPrincipal::Environment env, const std::string& applicationTitle, std::ostream& out,
             std::ostream& err);
  ~MainWindow() override;
  MainWindow(const MainWindow&) = delete;
  MainWindow& operator=(const MainWindow&) = delete;

  MainWindowLogic& logic() { return logic_; }
  TfrmPrincipal& svc() { return logic_.svc(); }
  HWND hwnd() const { return hwnd_; }
  HWND control(int id) const { return GetDlgItem(hwnd_, id); }
  const NOTIFYICONDATAW& trayIconData() const { return tray_.data(); }
  HMENU PopupMenu1() const { return PopupMenu1_; }
  // How many times the icon was put in the tray (again after Explorer restarted).
  int trayAdds() const { return tray_.adds(); }

  // Replaceable so tests can answer the modal boxes.
  std::function<std::optional<std::string>(const std::string& caption, const std::string& prompt)>
      inputBoxHook;
  std::function<void(const std::string& message)> errorBoxHook;

  // Runs the message loop until the program ends; returns the exit status.
  int run();

  // MainWindowView
  void restartTimer(TimerSchedule::Which which, int intervalMs) override;
  void stopTimer(TimerSchedule::Which which) override;
  void showMainWindow() override;
  void refresh() override;
  std::optional<std::string> inputBox(const std::string& caption,
                                      const std::string& prompt) override;
  void settingsDialog() override;
  void errorBox(const std::string& message) override;
  void postShowErrors() override;
  void quit() override;

  // Control and menu identifiers.
  enum : int {
    kBtnClose = 101,
    kBtnConfig,
    kSpeedButton1,
    kBtnGuiaTeste,
    kGridList,
    kPage,
    kMmoDados,
    kMemoTef1,
    kMemoTef2,
    kMemoTef3,
    kMmoRequest,
    kMmoResult,
    kLblRequest,
    kLblResult,
    kRestaura = 201,
    kSair,
  };
  // Identifiers of the settings dialog's controls.
  enum : int {
    kBtnsair = 301,
    kBtnSalvar,
    kBtnCancelar,
    kTokenVelantra,
    kEdtCnpjTEf,
    kIdvelantra,
    kIdCaixa,
    kUrlBase,
    kTimerApi,
    kChkTefSitef,
    kChkTefCielo,
    kNotaIdCaixa,
    kLabelBase = 400,  // + the field's identifier - kTokenVelantra
  };

 private:
  // Takes the icon out of the tray and destroys the window and what it holds; once.
  void release();
  LRESULT handle(UINT msg, WPARAM wp, LPARAM lp);
  void createControls();
  void layout();
  void applyFont();
  void trayMessage(UINT mouse);
  void command(int id);
  void showPageTab();
  int px(int v) const;

  HINSTANCE instance_;
  HWND hwnd_ = nullptr;
  HWND tooltip_ = nullptr;
  HMENU PopupMenu1_ = nullptr;
  HFONT font_ = nullptr;
  HICON icon_ = nullptr;
  HICON smallIcon_ = nullptr;
  HICON buttonIcons_[2] = {nullptr, nullptr};
  UINT dpi_ = 96;
  shells::win32::TrayIcon tray_;
  std::wstring title_;
  std::wstring cell_;  // the list view's text of the cell asked for last
  bool pageShown_ = false;
  MainWindowLogic logic_;
};

}  // namespace tefsync::win32

// The main window "TfrmPrincipal" with its tray icon: the Qt view of the shell logic, which
// owns the service object. Shows the service's state (event log, text buffers, title),
// forwards commands, activation and timer ticks to the logic, and runs its timers and
// modal boxes when the logic asks.
#pragma once

#include <QAbstractTableModel>
#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QStringList>
#include <QSystemTrayIcon>
#include <QTabWidget>
#include <QTableView>
#include <QTimer>
#include <QToolButton>
#include <QWidget>
#include <functional>
#include <optional>
#include <ostream>
#include <string>

#include "tefsync/core/TfrmPrincipal.h"
#include "tefsync/core/TimerSchedule.h"
#include "tefsync/gui/FrmConfig.h"
#include "tefsync/shell/MainWindowLogic.h"

namespace tefsync::gui {

// The event log as the grid shows it: the service's rows, read live.
class LogModel final : public QAbstractTableModel {
  Q_OBJECT

 public:
  explicit LogModel(const TfrmPrincipal& svc, QObject* parent = nullptr)
      : QAbstractTableModel(parent), svc_(svc) {}
  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  // The rows changed behind the model's back (append, or the log emptied at 1001 rows).
  void refresh();

 private:
  const TfrmPrincipal& svc_;
};

class FrmPrincipal final : public QWidget, public MainWindowView {
  Q_OBJECT

 public:
  // Creates the service and runs its FormCreate: the tray icon appears, the window stays
  // hidden and both timers start.
  FrmPrincipal(TfrmPrincipal::Environment env, const std::string& applicationTitle,
               std::ostream& out, std::ostream& err);
  ~FrmPrincipal() override;

  // The modal text-input box: caption, prompt; the typed text, or nothing when cancelled.
  // Replaceable so tests can answer it.
  std::function<std::optional<QString>(QWidget* parent, const QString& caption,
                                       const QString& prompt)>
      inputBoxHook;
  // The standard error box; replaceable for tests.
  std::function<void(QWidget* parent, const QString& message)> errorBoxHook;

  MainWindowLogic& logic() { return logic_; }
  TfrmPrincipal& svc() { return logic_.svc(); }
  QSystemTrayIcon& tray() { return tray_; }
  QMenu& PopupMenu1() { return PopupMenu1_; }
  QAction* restaura() const { return restaura_; }
  QAction* sair() const { return sair_; }
  QToolButton* btnClose() const { return btnClose_; }
  QToolButton* btnConfig() const { return btnConfig_; }
  QToolButton* SpeedButton1() const { return SpeedButton1_; }
  QToolButton* btnguiaTeste() const { return btnguiaTeste_; }
  QTableView* GridList() const { return GridList_; }
  QTabWidget* page() const { return page_; }
  QPlainTextEdit* buffer(const char* name) const;
  FrmConfig& frmConfig() { return *frmConfig_; }
  QTimer& timerApi() { return timerApi_; }
  QTimer& timerPing() { return timerPing_; }

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

 protected:
  bool event(QEvent* e) override;
  void closeEvent(QCloseEvent* e) override;

 private:
  void buildControls();
  QTimer& qtimer(TimerSchedule::Which which) {
    return which == TimerSchedule::kApi ? timerApi_ : timerPing_;
  }

  // Before the controls: the log model reads the service.
  MainWindowLogic logic_;
  QSystemTrayIcon tray_;
  QMenu PopupMenu1_;
  QAction* restaura_ = nullptr;
  QAction* sair_ = nullptr;
  QToolButton* btnClose_ = nullptr;
  QToolButton* btnConfig_ = nullptr;
  QToolButton* SpeedButton1_ = nullptr;
  QToolButton* btnguiaTeste_ = nullptr;
  QTableView* GridList_ = nullptr;
  LogModel* model_ = nullptr;
  QTabWidget* page_ = nullptr;
  QPlainTextEdit* mmoDados_ = nullptr;
  QPlainTextEdit* memoTef1_ = nullptr;
  QPlainTextEdit* memoTef2_ = nullptr;
  QPlainTextEdit* memoTef3_ = nullptr;
  QPlainTextEdit* mmoRequest_ = nullptr;
  QPlainTextEdit* mmoResult_ = nullptr;
  FrmConfig* frmConfig_ = nullptr;
  QTimer timerApi_;
  QTimer timerPing_;
  QTimer stopSignal_;
};

}  // namespace tefsync::gui

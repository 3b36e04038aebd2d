#include "tefsync/gui/FrmPrincipal.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QIcon>
#include <QInputDialog>
#include <QMessageBox>
#include <QScreen>
#include <QVBoxLayout>
#include <cstdio>

#include "platform/signals.h"
#include "tefsync/shell/WindowTexts.h"

// Resources of a static library are registered by hand, outside any namespace.
static void registerGuiResources() {
  static const bool done = [] {
    Q_INIT_RESOURCE(tefsync_gui);
    return true;
  }();
  (void)done;
}

namespace tefsync::gui {

namespace {

QString q(const std::string& s) {
  return QString::fromStdString(s);
}

// A memo shows CR LF line ends as one break.
QString memoText(const std::string& s) {
  QString t = q(s);
  t.replace("\r\n", "\n");
  t.replace('\r', '\n');
  return t;
}

}  // namespace

// ---- LogModel ----

int LogModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(svc_.tblList.size());
}

int LogModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kLogColumnCount;
}

QVariant LogModel::data(const QModelIndex& index, int role) const {
  if (role != Qt::DisplayRole || !index.isValid() || index.row() < 0 ||
      static_cast<size_t>(index.row()) >= svc_.tblList.size() || index.column() < 0 ||
      index.column() >= kLogColumnCount)
    return {};
  return q(logCell(svc_.tblList[static_cast<size_t>(index.row())], index.column()));
}

QVariant LogModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (role != Qt::DisplayRole) return {};
  if (orientation == Qt::Vertical) return section + 1;
  if (section < 0 || section >= kLogColumnCount) return {};
  return QString(kLogColumns[section].name);
}

void LogModel::refresh() {
  beginResetModel();
  endResetModel();
}

// ---- FrmPrincipal ----

FrmPrincipal::FrmPrincipal(TfrmPrincipal::Environment env, const std::string& applicationTitle,
                           std::ostream& out, std::ostream& err)
    : logic_(std::move(env), *this, out, err) {
  registerGuiResources();
  setObjectName("TfrmPrincipal");
  setWindowTitle(q(svc().Caption));
  setWindowIcon(QIcon(":/MAINICON"));
  resize(kMainWindowWidth, kMainWindowHeight);
  if (const QScreen* screen = QGuiApplication::primaryScreen())
    move(screen->availableGeometry().center() - rect().center());
  buildControls();

  inputBoxHook = [](QWidget* parent, const QString& caption,
                    const QString& prompt) -> std::optional<QString> {
    QInputDialog box(parent);
    box.setWindowTitle(caption);
    box.setLabelText(prompt);
    box.setInputMode(QInputDialog::TextInput);
    box.setTextValue(QString());
    box.setWindowModality(Qt::ApplicationModal);
    if (box.exec() != QDialog::Accepted) return std::nullopt;
    return box.textValue();
  };
  errorBoxHook = [this](QWidget*, const QString& message) {
    QMessageBox::critical(isVisible() ? this : nullptr, QGuiApplication::applicationName(),
                          message);
  };

  // The tray icon comes first; the window stays hidden.
  restaura_ = PopupMenu1_.addAction(kMenuRestaura);
  restaura_->setObjectName("restaura");
  PopupMenu1_.addSeparator();
  sair_ = PopupMenu1_.addAction(kMenuSair);
  sair_->setObjectName("sair");
  PopupMenu1_.setObjectName("PopupMenu1");
  connect(restaura_, &QAction::triggered, this, [this] { logic_.restauraClick(); });
  connect(sair_, &QAction::triggered, this, [this] { logic_.sairClick(); });
  tray_.setIcon(QIcon(":/MAINICON"));
  tray_.setToolTip(q(applicationTitle));
  tray_.setContextMenu(&PopupMenu1_);
  connect(&tray_, &QSystemTrayIcon::activated, this,
          [this](QSystemTrayIcon::ActivationReason reason) {
            if (reason == QSystemTrayIcon::DoubleClick) logic_.restauraClick();
          });
  tray_.show();

  connect(&timerApi_, &QTimer::timeout, this, [this] { logic_.timerFired(TimerSchedule::kApi); });
  connect(&timerPing_, &QTimer::timeout, this, [this] { logic_.timerFired(TimerSchedule::kPing); });
  // A stop signal takes the path of "Sair do sistema".
  logic_.stopRequested = [] { return plat::stopRequested(); };
  stopSignal_.setInterval(MainWindowLogic::kEndRequestPollMs);
  connect(&stopSignal_, &QTimer::timeout, this, [this] {
    if (logic_.checkEndRequest()) stopSignal_.stop();
  });
  stopSignal_.start();

  logic_.FormCreate();
  frmConfig_ = new FrmConfig(svc().frmConfig(), this);
}

FrmPrincipal::~FrmPrincipal() {
  // The dialog edits the service's settings, which go before the window's children do.
  delete frmConfig_;
  frmConfig_ = nullptr;
  timerApi_.stop();
  timerPing_.stop();
  stopSignal_.stop();
  tray_.hide();
}

void FrmPrincipal::buildControls() {
  auto button = [this](const ButtonText& t, const char* icon) {
    auto* b = new QToolButton(this);
    b->setObjectName(t.name);
    if (icon != nullptr) {
      b->setIcon(QIcon(icon));
      b->setIconSize(QSize(28, 28));
    } else {
      b->setText(QString::fromUtf8(t.text));
    }
    b->setToolTip(QString::fromUtf8(t.hint));
    b->setFixedSize(t.width, 40);
    return b;
  };
  btnClose_ = button(kBtnClose, ":/icons/close");
  btnConfig_ = button(kBtnConfig, ":/icons/config");
  SpeedButton1_ = button(kSpeedButton1, nullptr);
  btnguiaTeste_ = button(kBtnguiaTeste, nullptr);
  btnguiaTeste_->setVisible(false);
  connect(btnClose_, &QToolButton::clicked, this, [this] { logic_.btnCloseClick(); });
  connect(btnConfig_, &QToolButton::clicked, this, [this] { logic_.btnConfigClick(); });
  connect(SpeedButton1_, &QToolButton::clicked, this, [this] { logic_.SpeedButton1Click(); });
  connect(btnguiaTeste_, &QToolButton::clicked, this, [this] { logic_.btnguiaTesteClick(); });

  auto* top = new QHBoxLayout;
  top->setSpacing(6);
  for (QToolButton* b : {btnClose_, btnConfig_, SpeedButton1_, btnguiaTeste_}) top->addWidget(b);
  top->addStretch(1);

  GridList_ = new QTableView(this);
  GridList_->setObjectName("GridList");
  model_ = new LogModel(logic_.svc(), GridList_);
  GridList_->setModel(model_);
  GridList_->setSelectionBehavior(QAbstractItemView::SelectRows);
  GridList_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  GridList_->verticalHeader()->setVisible(false);
  GridList_->verticalHeader()->setDefaultSectionSize(20);
  for (int c = 0; c + 1 < kLogColumnCount; ++c) GridList_->setColumnWidth(c, kLogColumns[c].width);
  GridList_->horizontalHeader()->setStretchLastSection(true);

  auto memo = [](const char* name) {
    auto* m = new QPlainTextEdit;
    m->setObjectName(name);
    m->setReadOnly(true);
    return m;
  };
  page_ = new QTabWidget(this);
  page_->setObjectName("page");
  auto* dados = new QWidget;
  auto* dadosGrid = new QGridLayout(dados);
  mmoDados_ = memo("mmoDados");
  memoTef1_ = memo("memoTef1");
  memoTef2_ = memo("memoTef2");
  memoTef3_ = memo("memoTef3");
  dadosGrid->addWidget(mmoDados_, 0, 0);
  dadosGrid->addWidget(memoTef1_, 0, 1);
  dadosGrid->addWidget(memoTef2_, 1, 0);
  dadosGrid->addWidget(memoTef3_, 1, 1);
  page_->addTab(dados, kPageTabs[0]);
  auto* guia = new QWidget;
  auto* guiaGrid = new QGridLayout(guia);
  mmoRequest_ = memo("mmoRequest");
  mmoResult_ = memo("mmoResult");
  guiaGrid->addWidget(new QLabel(kLblRequest), 0, 0);
  guiaGrid->addWidget(new QLabel(kLblResult), 0, 1);
  guiaGrid->addWidget(mmoRequest_, 1, 0);
  guiaGrid->addWidget(mmoResult_, 1, 1);
  page_->addTab(guia, kPageTabs[1]);
  page_->setVisible(false);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(8, 8, 8, 8);
  layout->addLayout(top);
  layout->addWidget(GridList_, 3);
  layout->addWidget(page_, 2);
}

QPlainTextEdit* FrmPrincipal::buffer(const char* name) const {
  return findChild<QPlainTextEdit*>(name);
}

// ---- what the logic asks of the windows ----

void FrmPrincipal::restartTimer(TimerSchedule::Which which, int intervalMs) {
  qtimer(which).start(intervalMs);
}

void FrmPrincipal::stopTimer(TimerSchedule::Which which) {
  qtimer(which).stop();
}

void FrmPrincipal::showMainWindow() {
  showNormal();
  raise();
  activateWindow();
}

void FrmPrincipal::refresh() {
  TfrmPrincipal& s = svc();
  const QString title = q(s.Caption);
  if (windowTitle() != title) setWindowTitle(title);
  btnguiaTeste_->setVisible(s.btnguiaTesteVisible);
  page_->setVisible(s.pageVisible);
  const std::pair<QPlainTextEdit*, const std::string*> pairs[] = {
      {mmoDados_, &s.mmoDados}, {memoTef1_, &s.memoTef1},     {memoTef2_, &s.memoTef2},
      {memoTef3_, &s.memoTef3}, {mmoRequest_, &s.mmoRequest}, {mmoResult_, &s.mmoResult},
  };
  for (const auto& [memo, text] : pairs) {
    const QString t = memoText(*text);
    if (memo->toPlainText() != t) memo->setPlainText(t);
  }
  model_->refresh();
  if (isVisible()) {
    GridList_->scrollToBottom();
    repaint();  // the log is seen to grow during a sale, which holds the event loop
  }
}

std::optional<std::string> FrmPrincipal::inputBox(const std::string& caption,
                                                  const std::string& prompt) {
  if (!inputBoxHook) return std::nullopt;
  const std::optional<QString> answer = inputBoxHook(this, q(caption), q(prompt));
  if (!answer) return std::nullopt;
  return answer->toStdString();
}

void FrmPrincipal::settingsDialog() {
  frmConfig_->exec();
}

void FrmPrincipal::errorBox(const std::string& message) {
  if (errorBoxHook) errorBoxHook(this, q(message));
}

void FrmPrincipal::postShowErrors() {
  QTimer::singleShot(0, this, [this] { logic_.showPendingErrors(); });
}

void FrmPrincipal::quit() {
  QCoreApplication::quit();
}

bool FrmPrincipal::event(QEvent* e) {
  if (e->type() == QEvent::WindowActivate) logic_.activated();
  return QWidget::event(e);
}

void FrmPrincipal::closeEvent(QCloseEvent* e) {
  // Closing only hides; the service goes on in the tray.
  e->ignore();
  hide();
}

}  // namespace tefsync::gui

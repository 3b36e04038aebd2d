#include "procguard/gui/JanelaGuardiao.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QIcon>
#include <QMessageBox>
#include <QScreen>
#include <QStyle>
#include <iostream>
#include <utility>

#include "common/funcoes_zkt.h"
#include "platform/display.h"
#include "platform/host.h"
#include "platform/signals.h"

// Resources of a static library are registered by hand, outside any namespace.
static void registrarRecursos() {
  Q_INIT_RESOURCE(procguard);
}

namespace procguard {

namespace {
QString q(const std::string& s) {
  return QString::fromStdString(s);
}
}  // namespace

JanelaGuardiao::JanelaGuardiao(Processos& processos, const std::string& pasta,
                               const std::string& titulo, TfrmPrincipal::TentarTrava tentar)
    : frm_(processos, *this, pasta, std::move(tentar)) {
  setWindowTitle("Guardian de Processos");
  setWindowIcon(QIcon(":/MAINICON"));
  resize(414, 195);
  if (const QScreen* tela = QGuiApplication::primaryScreen()) {
    move(tela->availableGeometry().center() - rect().center());
  }

  btnReiniciarSinc_ = new QPushButton(this);
  btnReiniciarSinc_->setObjectName("btnReiniciarSinc");
  btnReiniciarSinc_->setGeometry(24, 32, 366, 49);
  btnEncerraSinc_ = new QPushButton(this);
  btnEncerraSinc_->setObjectName("btnEncerraSinc");
  btnEncerraSinc_->setGeometry(24, 104, 366, 49);
  connect(btnReiniciarSinc_, &QPushButton::clicked, this, [this] {
    frm_.btnReiniciarSincClick();
    sincronizarTimer();
  });
  connect(btnEncerraSinc_, &QPushButton::clicked, this, [this] { frm_.btnEncerraSincClick(); });

  restaura_ = PopupMenu1_.addAction("Restaurar programa");
  PopupMenu1_.addSeparator();
  sair_ = PopupMenu1_.addAction("Sair do sistema");
  connect(restaura_, &QAction::triggered, this, &JanelaGuardiao::restauraClick);
  connect(sair_, &QAction::triggered, this, [this] { frm_.sairClick(); });

  tray_.setIcon(QIcon(":/MAINICON"));
  tray_.setToolTip(q(titulo));
  tray_.setContextMenu(&PopupMenu1_);
  connect(&tray_, &QSystemTrayIcon::activated, this,
          [this](QSystemTrayIcon::ActivationReason motivo) {
            if (motivo == QSystemTrayIcon::DoubleClick) restauraClick();
          });

  timer1_.setInterval(TfrmPrincipal::kIntervaloTimer1Ms);
  connect(&timer1_, &QTimer::timeout, this, [this] {
    frm_.Timer1Timer();
    sincronizarTimer();
  });
  // SIGTERM and SIGINT take the path of "Sair do sistema".
  pedidoDeFim_.setInterval(200);
  connect(&pedidoDeFim_, &QTimer::timeout, this, [this] {
    if (plat::stopRequested()) {
      pedidoDeFim_.stop();
      frm_.sairClick();
    }
  });
  pedidoDeFim_.start();

  vez_.setInterval(TfrmPrincipal::kIntervaloVezMs);
  connect(&vez_, &QTimer::timeout, this, &JanelaGuardiao::Iniciar);
}

JanelaGuardiao::~JanelaGuardiao() {
  FormDestroy();
}

void JanelaGuardiao::Iniciar() {
  // Off while a box of the start-up waits for the operator: one try at a time.
  vez_.stop();
  if (!frm_.TomarVez()) {
    vez_.start();
    return;
  }
  tray_.show();
  frm_.FormCreate();
  btnReiniciarSinc_->setText(q(frm_.captionReiniciar()));
  btnEncerraSinc_->setText(q(frm_.captionEncerrar()));
  frm_.ChamarOutrosEXE();
  sincronizarTimer();
}

void JanelaGuardiao::FormDestroy() {
  if (destruida_) return;
  destruida_ = true;
  timer1_.stop();
  vez_.stop();
  pedidoDeFim_.stop();
  tray_.hide();
  frm_.FormDestroy();
}

void JanelaGuardiao::sincronizarTimer() {
  if (frm_.Timer1Ativo() && !timer1_.isActive()) timer1_.start();
  if (!frm_.Timer1Ativo()) timer1_.stop();
}

void JanelaGuardiao::restauraClick() {
  showNormal();
  raise();
  activateWindow();
}

void JanelaGuardiao::closeEvent(QCloseEvent* evento) {
  // Closing only hides; the guardian keeps watching from the tray.
  evento->ignore();
  hide();
}

void JanelaGuardiao::Mensagem(const std::string& texto) {
  QMessageBox::information(nullptr, QApplication::applicationName(), q(texto));
}

void JanelaGuardiao::Erro(const std::string& texto) {
  std::cerr << "Erro: " << texto << std::endl;
  QMessageBox::critical(nullptr, QApplication::applicationName(), q(texto));
}

void JanelaGuardiao::RegistroRestart(const std::string& linha) {
  std::cout << linha << std::endl;
}

void JanelaGuardiao::Registro(const std::string& linha) {
  std::cout << linha << std::endl;
  std::cout.clear();
}

void JanelaGuardiao::ProcessarMensagens() {
  QCoreApplication::processEvents();
}

void JanelaGuardiao::Encerrar() {
  QCoreApplication::quit();
}

int ExecutarComTela(int argc, char** argv) {
  registrarRecursos();
  QApplication app(argc, argv);
  const std::string titulo = plat::applicationTitle(plat::executablePath());
  QApplication::setApplicationName(q(titulo));
  // The window is hidden and closing it only hides it: only "Sair" ends the program.
  QApplication::setQuitOnLastWindowClosed(false);
  ProcessosDoSistema processos;
  JanelaGuardiao janela(processos, zkt::Path_Do_Executavel(), titulo);
  janela.Iniciar();
  const int status = QApplication::exec();
  janela.FormDestroy();
  return status;
}

}  // namespace procguard

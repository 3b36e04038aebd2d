// The guardian's window shell: tray icon, hidden main window and its two buttons. The
// logic lives in TfrmPrincipal; the shell only shows it and forwards commands.
#pragma once

#include <QAction>
#include <QMenu>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QWidget>

#include "procguard/Guardiao.h"

namespace procguard {

class JanelaGuardiao final : public QWidget, public Tela {
  Q_OBJECT

 public:
  // FormCreate runs here: tray icon, hidden window, settings, captions.
  JanelaGuardiao(Processos& processos, const std::string& pasta, const std::string& titulo);
  ~JanelaGuardiao() override;

  TfrmPrincipal& frm() { return frm_; }
  // The start step before the message loop; Timer1 runs from then on.
  void ChamarOutrosEXE();
  // After the message loop: the tray icon goes, the synchronizer is ended.
  void FormDestroy();

  QSystemTrayIcon& tray() { return tray_; }
  QPushButton* btnReiniciarSinc() { return btnReiniciarSinc_; }
  QPushButton* btnEncerraSinc() { return btnEncerraSinc_; }
  QAction* restaura() { return restaura_; }
  QAction* sair() { return sair_; }
  QTimer& Timer1() { return timer1_; }

  // Tela
  void Mensagem(const std::string& texto) override;
  void Erro(const std::string& texto) override;
  void RegistroRestart(const std::string& linha) override;
  void Registro(const std::string& linha) override;
  void ProcessarMensagens() override;
  void Encerrar() override;

 public slots:
  void restauraClick();

 protected:
  void closeEvent(QCloseEvent* evento) override;

 private:
  void sincronizarTimer();

  TfrmPrincipal frm_;
  QSystemTrayIcon tray_;
  QMenu PopupMenu1_;
  QAction* restaura_ = nullptr;
  QAction* sair_ = nullptr;
  QPushButton* btnReiniciarSinc_ = nullptr;
  QPushButton* btnEncerraSinc_ = nullptr;
  QTimer timer1_;
  QTimer pedidoDeFim_;
  bool destruida_ = false;
};

// The program with a display; returns the exit status.
int ExecutarComTela(int argc, char** argv);

}  // namespace procguard

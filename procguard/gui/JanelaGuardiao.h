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
  // The hidden window and its controls; nothing of the start-up runs yet (see Iniciar).
  JanelaGuardiao(Processos& processos, const std::string& pasta, const std::string& titulo,
                 TfrmPrincipal::TentarTrava tentar = {});
  ~JanelaGuardiao() override;

  TfrmPrincipal& frm() { return frm_; }
  // The start-up, before the message loop: once the folder's lock is taken, the tray icon,
  // FormCreate (settings, captions), ChamarOutrosEXE and Timer1; until then nothing shows
  // and the timer Vez tries again.
  void Iniciar();
  // After the message loop: the tray icon goes, the synchronizer is ended.
  void FormDestroy();

  QSystemTrayIcon& tray() { return tray_; }
  QPushButton* btnReiniciarSinc() { return btnReiniciarSinc_; }
  QPushButton* btnEncerraSinc() { return btnEncerraSinc_; }
  QAction* restaura() { return restaura_; }
  QAction* sair() { return sair_; }
  QTimer& Timer1() { return timer1_; }
  QTimer& Vez() { return vez_; }

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
  QTimer vez_;
  QTimer pedidoDeFim_;
  bool destruida_ = false;
};

// The program with a display; returns the exit status.
int ExecutarComTela(int argc, char** argv);

}  // namespace procguard

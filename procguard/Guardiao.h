// The guardian's logic, free of any window: its turn to guard the folder, start-up, the
// heartbeat tick of Timer1, the restart and the end. The window shell (or the headless
// loop) shows and forwards.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/lock.h"

namespace procguard {

// The process functions the guardian uses; tests put a fake in their place.
class Processos {
 public:
  virtual ~Processos() = default;
  // Running processes whose executable's base name is nome (letter case ignored).
  virtual int Conta_Processos(const std::string& nome) = 0;
  // Ends every process whose executable's file name (or whole path, when nome has a
  // folder part) is nome; true when at least one was ended.
  virtual bool Encerra_Processos(const std::string& nome) = 0;
  // The file nome in pasta, found without regard to letter case; empty when none.
  virtual std::string Localizar(const std::string& pasta, const std::string& nome) = 0;
  // Starts an executable with no shell and no arguments; false when it did not start.
  virtual bool Executar(const std::string& caminho) = 0;
  // Collects ended children so that none lingers as a zombie.
  virtual void RecolherFilhos() = 0;
};

class ProcessosDoSistema final : public Processos {
 public:
  int Conta_Processos(const std::string& nome) override;
  bool Encerra_Processos(const std::string& nome) override;
  std::string Localizar(const std::string& pasta, const std::string& nome) override;
  bool Executar(const std::string& caminho) override;
  void RecolherFilhos() override;
};

// What the guardian asks of its window shell.
class Tela {
 public:
  virtual ~Tela() = default;
  // Modal message box; returns when the operator has closed it.
  virtual void Mensagem(const std::string& texto) = 0;
  // The standard error box for an error that ended a timer tick or a command.
  virtual void Erro(const std::string& texto) = 0;
  // A restart record was written (the headless program prints it).
  virtual void RegistroRestart(const std::string& linha) = 0;
  // A line for the log: standard output.
  virtual void Registro(const std::string& linha) = 0;
  // Lets pending window messages run.
  virtual void ProcessarMensagens() = 0;
  // Ends the message loop; the program then runs FormDestroy.
  virtual void Encerrar() = 0;
};

class TfrmPrincipal {
 public:
  static constexpr int kIntervaloTimer1Ms = 10000;
  // How often a guardian whose folder another guardian holds tries the lock again.
  static constexpr int kIntervaloVezMs = 5000;

  // Tries once, without waiting, to take the lock on the file at arquivo, as
  // plat::FileLock::tryTake does (the one used when none is given).
  using TentarTrava = std::function<std::unique_ptr<plat::FileLock>(
      const std::string& arquivo, plat::FileLock::Result& resultado, std::string& erro)>;

  // pasta: the guardian's own folder with its trailing separator (Path_Do_Executavel).
  TfrmPrincipal(Processos& processos, Tela& tela, std::string pasta, TentarTrava tentar = {});

  // One guardian per install folder: the one holding the lock file "procguard.lock" in its
  // folder. Tries the lock once (at once when already held by this guardian); true when
  // this guardian holds it, for the rest of its life. Until then the program runs none of
  // its start-up (no tray icon, nothing started, nothing written) and tries again every
  // kIntervaloVezMs; once true it starts as if it had just started: FormCreate,
  // ChamarOutrosEXE. Says when it starts waiting and why the lock could not be had.
  bool TomarVez();
  bool temVez() const { return trava_ != nullptr; }

  void FormCreate();
  void ChamarOutrosEXE();
  void Timer1Timer();
  void btnReiniciarSincClick();
  void btnEncerraSincClick();
  void sairClick();
  void FormDestroy();

  const std::string& nomeEXE() const { return nomeEXE_; }
  const std::string& captionReiniciar() const { return captionReiniciar_; }
  const std::string& captionEncerrar() const { return captionEncerrar_; }
  bool Timer1Ativo() const { return timer1Ativo_; }
  bool iniciarSinc() const { return iniciarSinc_; }
  bool enviarTeste() const { return enviarTeste_; }
  bool aguardarResposta() const { return aguardarResposta_; }
  int64_t ultimoTeste() const { return ultimoTeste_; }
  int64_t ultimaVerificacao() const { return ultimaVerificacao_; }

  std::string arquivoTrava() const;
  std::string arquivoConfig() const;
  std::string pastaPing() const;  // with its trailing separator
  std::string arquivoTeste() const;
  std::string arquivoResposta() const;

 private:
  void Reiniciar();  // the restart; a file error leaves it and reaches the caller
  // The synchronizer's file in the guardian's folder; empty (and said once) when missing.
  std::string ArquivoDoSincronizador();
  void GravarRegistroRestart();
  void Encerrar();

  Processos& processos_;
  Tela& tela_;
  std::string pasta_;
  TentarTrava tentar_;
  std::unique_ptr<plat::FileLock> trava_;
  std::string ultimoAviso_;  // what was last said about the lock, said again only when it changes
  bool iniciado_ = false;    // FormCreate ran: only then is there a synchronizer to end
  std::string nomeEXE_;
  std::string captionReiniciar_;
  std::string captionEncerrar_;
  bool iniciarSinc_ = true;
  bool enviarTeste_ = false;
  bool aguardarResposta_ = false;
  bool timer1Ativo_ = false;
  bool avisouFalta_ = false;  // the missing file was shown; shown again once it was found
  // Local time in seconds that run on across midnight; 0 means "never".
  int64_t ultimoTeste_ = 0;
  int64_t ultimaVerificacao_ = 0;
};

}  // namespace procguard

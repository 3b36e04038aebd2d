// The guardian's Windows shell: tray icon, the hidden window "Guardian de Processos" and its
// two buttons, plain Win32 (wide API). The logic lives in TfrmPrincipal; the shell only shows
// it and forwards commands.
#pragma once

#include <windows.h>

#include <functional>
#include <stdexcept>
#include <string>

#include "procguard/Guardiao.h"
#include "procguard/win32/ComJanela.h"
#include "shells/win32/shell_win32.h"

namespace procguard::win32 {

using shells::win32::kTrayMessage;

// No window could be made (Wine without a display).
class SemJanela : public std::runtime_error {
 public:
  SemJanela() : std::runtime_error("Janela do guardião não pôde ser criada") {}
};

class JanelaWin32 final : public Tela {
 public:
  // The modal message and error boxes; tests answer them.
  using Caixa = std::function<void(const std::string& texto, bool erro)>;

  // The hidden window, its controls and menu; nothing of the start-up runs yet (see
  // Iniciar). The message and error boxes go through `caixa` when given. Throws SemJanela
  // when the window cannot be created.
  JanelaWin32(Processos& processos, const std::string& pasta, const std::string& titulo,
              Caixa caixa = {}, TfrmPrincipal::TentarTrava tentar = {});
  ~JanelaWin32() override;
  JanelaWin32(const JanelaWin32&) = delete;
  JanelaWin32& operator=(const JanelaWin32&) = delete;

  TfrmPrincipal& frm() { return frm_; }
  HWND hwnd() const { return hwnd_; }
  HWND control(int id) const { return GetDlgItem(hwnd_, id); }
  const NOTIFYICONDATAW& trayIconData() const { return tray_.data(); }
  HMENU PopupMenu1() const { return PopupMenu1_; }
  int trayAdds() const { return tray_.adds(); }
  bool Timer1Ligado() const { return timer1Ligado_; }
  bool VezLigado() const { return vezLigado_; }

  // The start-up, before the message loop: once the folder's lock is taken, the tray icon,
  // FormCreate (settings, captions), ChamarOutrosEXE and Timer1; until then nothing shows
  // and a timer tries again every TfrmPrincipal::kIntervaloVezMs.
  void Iniciar();
  // After the message loop: the tray icon goes, the synchronizer is ended.
  void FormDestroy();
  // Runs the message loop until the guardian ends, then FormDestroy; the exit status.
  int executar();

  // Tela
  void Mensagem(const std::string& texto) override;
  void Erro(const std::string& texto) override;
  void RegistroRestart(const std::string& linha) override;
  void Registro(const std::string& linha) override;
  void ProcessarMensagens() override;
  void Encerrar() override;

  enum : int { kBtnReiniciarSinc = 101, kBtnEncerraSinc, kRestaura = 201, kSair };
  // The timer that tries the folder's lock again while another guardian holds it.
  static constexpr UINT_PTR kTimerVez = 3;

 private:
  LRESULT tratar(UINT msg, WPARAM wp, LPARAM lp);
  void comando(int id);
  void sincronizarTimer();
  void layout();
  void caixa(const std::string& texto, UINT tipo);

  HWND hwnd_ = nullptr;
  HMENU PopupMenu1_ = nullptr;
  HFONT fonte_ = nullptr;
  HICON icone_ = nullptr;
  HICON iconePequeno_ = nullptr;
  UINT dpi_ = 96;
  shells::win32::TrayIcon tray_;
  bool timer1Ligado_ = false;
  bool vezLigado_ = false;
  bool destruida_ = false;
  Caixa caixaHook_;
  std::wstring titulo_;
  TfrmPrincipal frm_;
};

}  // namespace procguard::win32

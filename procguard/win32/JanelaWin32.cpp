#include "procguard/win32/JanelaWin32.h"

#include <iostream>
#include <memory>
#include <stdexcept>

#include "common/funcoes_zkt.h"
#include "platform/display.h"
#include "platform/host.h"
#include "platform/signals.h"

namespace procguard::win32 {

namespace {

constexpr UINT_PTR kTimer1 = 1;
constexpr UINT_PTR kPedidoDeFim = 2;
constexpr UINT_PTR kVez = JanelaWin32::kTimerVez;
const wchar_t* const kClasse = L"TfrmPrincipalGuardiao";

using shells::win32::widen;

}  // namespace

JanelaWin32::JanelaWin32(Processos& processos, const std::string& pasta, const std::string& titulo,
                         Caixa caixa, TfrmPrincipal::TentarTrava tentar)
    : caixaHook_(std::move(caixa)),
      titulo_(widen(titulo)),
      frm_(processos, *this, pasta, std::move(tentar)) {
  HINSTANCE instancia = GetModuleHandleW(nullptr);
  icone_ = shells::win32::loadMainIcon(GetSystemMetrics(SM_CXICON));
  iconePequeno_ = shells::win32::loadMainIcon(GetSystemMetrics(SM_CXSMICON));
  shells::win32::registerWindowClass(kClasse,
                                     shells::win32::windowProcOf<JanelaWin32, &JanelaWin32::tratar>,
                                     icone_, iconePequeno_);

  hwnd_ = CreateWindowExW(0, kClasse, L"Guardian de Processos",
                          WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, CW_USEDEFAULT,
                          CW_USEDEFAULT, 414, 195, nullptr, nullptr, instancia, this);
  if (hwnd_ == nullptr) throw SemJanela();
  dpi_ = shells::win32::dpiOf(hwnd_);
  for (int id : {kBtnReiniciarSinc, kBtnEncerraSinc})
    CreateWindowExW(0, L"BUTTON", L"", WS_CHILD | WS_VISIBLE | WS_TABSTOP, 0, 0, 0, 0, hwnd_,
                    reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instancia, nullptr);
  layout();

  PopupMenu1_ =
      shells::win32::makeTrayMenu(kRestaura, L"Restaurar programa", kSair, L"Sair do sistema");

  // A console end event takes the path of "Sair do sistema".
  SetTimer(hwnd_, kPedidoDeFim, 200, nullptr);
}

JanelaWin32::~JanelaWin32() {
  FormDestroy();
  if (hwnd_ != nullptr) {
    SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
    DestroyWindow(hwnd_);
  }
  if (PopupMenu1_ != nullptr) DestroyMenu(PopupMenu1_);
  if (fonte_ != nullptr) DeleteObject(fonte_);
  for (HICON i : {icone_, iconePequeno_})
    if (i != nullptr) DestroyIcon(i);
}

void JanelaWin32::layout() {
  auto p = [this](int v) { return shells::win32::scaled(v, dpi_); };
  // 414 x 195 is the outer size at 96 DPI.
  shells::win32::centreOnScreen(hwnd_, SIZE{p(414), p(195)});
  RECT c{};
  GetClientRect(hwnd_, &c);
  const int bw = c.right - p(48);
  MoveWindow(control(kBtnReiniciarSinc), p(24), p(24), bw, p(49), TRUE);
  MoveWindow(control(kBtnEncerraSinc), p(24), p(88), bw, p(49), TRUE);
  HFONT antiga = fonte_;
  fonte_ = shells::win32::messageFont(dpi_);
  for (int id : {kBtnReiniciarSinc, kBtnEncerraSinc})
    SendMessageW(control(id), WM_SETFONT, reinterpret_cast<WPARAM>(fonte_), TRUE);
  if (antiga != nullptr) DeleteObject(antiga);
}

void JanelaWin32::Iniciar() {
  // Off while a box of the start-up waits for the operator: one try at a time.
  KillTimer(hwnd_, kVez);
  vezLigado_ = false;
  if (!frm_.TomarVez()) {
    vezLigado_ = SetTimer(hwnd_, kVez, TfrmPrincipal::kIntervaloVezMs, nullptr) != 0;
    return;
  }
  tray_.add(hwnd_, kTrayMessage, iconePequeno_, titulo_);
  frm_.FormCreate();
  SetWindowTextW(control(kBtnReiniciarSinc), widen(frm_.captionReiniciar()).c_str());
  SetWindowTextW(control(kBtnEncerraSinc), widen(frm_.captionEncerrar()).c_str());
  frm_.ChamarOutrosEXE();
  sincronizarTimer();
}

void JanelaWin32::sincronizarTimer() {
  if (frm_.Timer1Ativo() && !timer1Ligado_)
    SetTimer(hwnd_, kTimer1, TfrmPrincipal::kIntervaloTimer1Ms, nullptr);
  if (!frm_.Timer1Ativo() && timer1Ligado_) KillTimer(hwnd_, kTimer1);
  timer1Ligado_ = frm_.Timer1Ativo();
}

void JanelaWin32::FormDestroy() {
  if (destruida_) return;
  destruida_ = true;
  if (hwnd_ != nullptr) {
    KillTimer(hwnd_, kTimer1);
    KillTimer(hwnd_, kPedidoDeFim);
    KillTimer(hwnd_, kVez);
    tray_.remove();
  }
  timer1Ligado_ = false;
  vezLigado_ = false;
  frm_.FormDestroy();
}

int JanelaWin32::executar() {
  shells::win32::runMessageLoop();
  FormDestroy();
  return 0;
}

void JanelaWin32::caixa(const std::string& texto, UINT tipo) {
  if (caixaHook_) {
    caixaHook_(texto, tipo == MB_ICONERROR);
    return;
  }
  MessageBoxW(IsWindowVisible(hwnd_) ? hwnd_ : nullptr, widen(texto).c_str(), titulo_.c_str(),
              MB_OK | tipo | MB_SETFOREGROUND);
}

void JanelaWin32::Mensagem(const std::string& texto) {
  caixa(texto, MB_ICONINFORMATION);
}

void JanelaWin32::Erro(const std::string& texto) {
  std::cerr << "Erro: " << texto << std::endl;
  std::cerr.clear();
  caixa(texto, MB_ICONERROR);
}

void JanelaWin32::RegistroRestart(const std::string& linha) {
  std::cout << linha << std::endl;
  std::cout.clear();
}

void JanelaWin32::Registro(const std::string& linha) {
  std::cout << linha << std::endl;
  std::cout.clear();
}

void JanelaWin32::ProcessarMensagens() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(msg.wParam));
      break;
    }
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

void JanelaWin32::Encerrar() {
  PostQuitMessage(0);
}

void JanelaWin32::comando(int id) {
  switch (id) {
    case kBtnReiniciarSinc:
      frm_.btnReiniciarSincClick();
      sincronizarTimer();
      break;
    case kBtnEncerraSinc:
      frm_.btnEncerraSincClick();
      break;
    case kRestaura:
      ShowWindow(hwnd_, SW_SHOWNORMAL);
      SetForegroundWindow(hwnd_);
      break;
    case kSair:
      frm_.sairClick();
      break;
    default:
      break;
  }
}

LRESULT JanelaWin32::tratar(UINT msg, WPARAM wp, LPARAM lp) {
  if (tray_.taskbarRestarted(msg)) return 0;
  switch (msg) {
    case kTrayMessage:
      if (LOWORD(lp) == WM_LBUTTONDBLCLK) {
        comando(kRestaura);
      } else if (LOWORD(lp) == WM_RBUTTONDOWN) {
        shells::win32::openTrayMenu(hwnd_, PopupMenu1_);
      }
      break;  // and the normal handling
    case WM_COMMAND:
      comando(LOWORD(wp));
      return 0;
    case WM_TIMER:
      if (wp == kTimer1) {
        frm_.Timer1Timer();
        sincronizarTimer();
      } else if (wp == kVez) {
        Iniciar();
      } else if (wp == kPedidoDeFim && plat::stopRequested()) {
        KillTimer(hwnd_, kPedidoDeFim);
        frm_.sairClick();
      }
      return 0;
    case WM_CLOSE:
      // Closing only hides; the guardian keeps watching from the tray.
      ShowWindow(hwnd_, SW_HIDE);
      return 0;
    case WM_QUERYENDSESSION:
      return TRUE;
    case WM_ENDSESSION:
      // Windows shuts down or logs off: end both programs as "Sair do sistema" does.
      if (wp != 0) {
        frm_.sairClick();
        FormDestroy();
      }
      return 0;
    case WM_DPICHANGED:
      dpi_ = HIWORD(wp);
      layout();
      return 0;
    default:
      break;
  }
  return DefWindowProcW(hwnd_, msg, wp, lp);
}

int ExecutarComJanela() {
  ProcessosDoSistema processos;
  std::unique_ptr<JanelaWin32> janela;
  try {
    janela = std::make_unique<JanelaWin32>(processos, zkt::Path_Do_Executavel(),
                                           plat::applicationTitle(plat::executablePath()));
  } catch (const SemJanela&) {
    return -1;  // no display (Wine without X): the caller runs headless
  }
  janela->Iniciar();
  return janela->executar();
}

}  // namespace procguard::win32

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
const wchar_t* const kClasse = L"TfrmPrincipalGuardiao";

std::wstring largo(const std::string& s) {
  if (s.empty()) return {};
  const int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
  std::wstring w(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
  return w;
}

UINT dpiDa(HWND hwnd) {
  using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
  static const auto getDpiForWindow = reinterpret_cast<GetDpiForWindowFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
  if (getDpiForWindow != nullptr && hwnd != nullptr) {
    const UINT dpi = getDpiForWindow(hwnd);
    if (dpi != 0) return dpi;
  }
  HDC dc = GetDC(nullptr);
  const int dpi = GetDeviceCaps(dc, LOGPIXELSY);
  ReleaseDC(nullptr, dc);
  return dpi > 0 ? static_cast<UINT>(dpi) : 96;
}

HFONT fonteDeMensagem(UINT dpi) {
  NONCLIENTMETRICSW ncm{};
  ncm.cbSize = sizeof ncm;
  SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof ncm, &ncm, 0);
  LOGFONTW lf = ncm.lfMessageFont;
  HDC dc = GetDC(nullptr);
  const int dpiSistema = GetDeviceCaps(dc, LOGPIXELSY);
  ReleaseDC(nullptr, dc);
  if (lf.lfHeight == 0) lf.lfHeight = -12;
  lf.lfHeight = MulDiv(lf.lfHeight, static_cast<int>(dpi), dpiSistema > 0 ? dpiSistema : 96);
  return CreateFontIndirectW(&lf);
}

HICON carregarIcone(int tamanho) {
  auto* icone = static_cast<HICON>(LoadImageW(GetModuleHandleW(nullptr), L"MAINICON", IMAGE_ICON,
                                              tamanho, tamanho, LR_DEFAULTCOLOR));
  if (icone == nullptr)
    icone = static_cast<HICON>(
        LoadImageW(nullptr, IDI_APPLICATION, IMAGE_ICON, tamanho, tamanho, LR_SHARED));
  return icone;
}

}  // namespace

JanelaWin32::JanelaWin32(Processos& processos, const std::string& pasta, const std::string& titulo,
                         Caixa caixa)
    : caixaHook_(std::move(caixa)), frm_(processos, *this, pasta) {
  HINSTANCE instancia = GetModuleHandleW(nullptr);
  icone_ = carregarIcone(GetSystemMetrics(SM_CXICON));
  iconePequeno_ = carregarIcone(GetSystemMetrics(SM_CXSMICON));
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = windowProc;
  wc.hInstance = instancia;
  wc.hIcon = icone_;
  wc.hIconSm = iconePequeno_;
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = kClasse;
  RegisterClassExW(&wc);

  hwnd_ = CreateWindowExW(0, kClasse, L"Guardian de Processos",
                          WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, CW_USEDEFAULT,
                          CW_USEDEFAULT, 414, 195, nullptr, nullptr, instancia, this);
  if (hwnd_ == nullptr) throw SemJanela();
  dpi_ = dpiDa(hwnd_);
  for (int id : {kBtnReiniciarSinc, kBtnEncerraSinc})
    CreateWindowExW(0, L"BUTTON", L"", WS_CHILD | WS_VISIBLE | WS_TABSTOP, 0, 0, 0, 0, hwnd_,
                    reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instancia, nullptr);
  layout();

  PopupMenu1_ = CreatePopupMenu();
  AppendMenuW(PopupMenu1_, MF_STRING, kRestaura, L"Restaurar programa");
  AppendMenuW(PopupMenu1_, MF_SEPARATOR, 0, nullptr);
  AppendMenuW(PopupMenu1_, MF_STRING, kSair, L"Sair do sistema");

  titulo_ = largo(titulo);
  trayIconData_.cbSize = sizeof trayIconData_;
  trayIconData_.hWnd = hwnd_;
  trayIconData_.uID = 0;
  trayIconData_.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  trayIconData_.uCallbackMessage = kTrayMessage;
  trayIconData_.hIcon = iconePequeno_;
  lstrcpynW(trayIconData_.szTip, titulo_.c_str(), static_cast<int>(std::size(trayIconData_.szTip)));
  taskbarCreated_ = RegisterWindowMessageW(L"TaskbarCreated");
  adicionarIcone();

  // A console end event takes the path of "Sair do sistema".
  SetTimer(hwnd_, kPedidoDeFim, 200, nullptr);

  frm_.FormCreate();
  SetWindowTextW(control(kBtnReiniciarSinc), largo(frm_.captionReiniciar()).c_str());
  SetWindowTextW(control(kBtnEncerraSinc), largo(frm_.captionEncerrar()).c_str());
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
  auto p = [this](int v) { return MulDiv(v, static_cast<int>(dpi_), 96); };
  // 414 x 195 is the outer size at 96 DPI.
  RECT r{};
  GetWindowRect(hwnd_, &r);
  RECT work{};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  const int w = p(414), h = p(195);
  SetWindowPos(hwnd_, nullptr, work.left + ((work.right - work.left) - w) / 2,
               work.top + ((work.bottom - work.top) - h) / 2, w, h, SWP_NOZORDER | SWP_NOACTIVATE);
  RECT c{};
  GetClientRect(hwnd_, &c);
  const int bw = c.right - p(48);
  MoveWindow(control(kBtnReiniciarSinc), p(24), p(24), bw, p(49), TRUE);
  MoveWindow(control(kBtnEncerraSinc), p(24), p(88), bw, p(49), TRUE);
  HFONT antiga = fonte_;
  fonte_ = fonteDeMensagem(dpi_);
  for (int id : {kBtnReiniciarSinc, kBtnEncerraSinc})
    SendMessageW(control(id), WM_SETFONT, reinterpret_cast<WPARAM>(fonte_), TRUE);
  if (antiga != nullptr) DeleteObject(antiga);
}

void JanelaWin32::adicionarIcone() {
  ++trayAdds_;
  Shell_NotifyIconW(NIM_ADD, &trayIconData_);
}

void JanelaWin32::ChamarOutrosEXE() {
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
    Shell_NotifyIconW(NIM_DELETE, &trayIconData_);
  }
  timer1Ligado_ = false;
  frm_.FormDestroy();
}

int JanelaWin32::executar() {
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  FormDestroy();
  return 0;
}

void JanelaWin32::caixa(const std::string& texto, UINT tipo) {
  if (caixaHook_) {
    caixaHook_(texto, tipo == MB_ICONERROR);
    return;
  }
  MessageBoxW(IsWindowVisible(hwnd_) ? hwnd_ : nullptr, largo(texto).c_str(), trayIconData_.szTip,
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

LRESULT CALLBACK JanelaWin32::windowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_NCCREATE) {
    auto* cs = reinterpret_cast<CREATESTRUCTW*>(lp);
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
  }
  auto* self = reinterpret_cast<JanelaWin32*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (self == nullptr || self->hwnd_ == nullptr) return DefWindowProcW(hwnd, msg, wp, lp);
  return self->tratar(msg, wp, lp);
}

LRESULT JanelaWin32::tratar(UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == taskbarCreated_ && taskbarCreated_ != 0) {
    // Explorer restarted: its tray is new and empty.
    adicionarIcone();
    return 0;
  }
  switch (msg) {
    case kTrayMessage:
      if (LOWORD(lp) == WM_LBUTTONDBLCLK) {
        comando(kRestaura);
      } else if (LOWORD(lp) == WM_RBUTTONDOWN) {
        SetForegroundWindow(hwnd_);
        POINT pt{};
        GetCursorPos(&pt);
        TrackPopupMenu(PopupMenu1_, TPM_RIGHTBUTTON, pt.x, pt.y, 0, hwnd_, nullptr);
        PostMessageW(hwnd_, WM_NULL, 0, 0);
      }
      break;  // and the normal handling
    case WM_COMMAND:
      comando(LOWORD(wp));
      return 0;
    case WM_TIMER:
      if (wp == kTimer1) {
        frm_.Timer1Timer();
        sincronizarTimer();
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
  janela->ChamarOutrosEXE();
  return janela->executar();
}

}  // namespace procguard::win32

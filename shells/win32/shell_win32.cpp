#include "shells/win32/shell_win32.h"

#include <iterator>

namespace shells::win32 {

UINT dpiOf(HWND hwnd) {
  using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
  // Windows 10 and later only: looked up, so that the programs start on Windows 7.
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

int scaled(int v, UINT dpi) {
  return MulDiv(v, static_cast<int>(dpi), 96);
}

HFONT messageFont(UINT dpi) {
  NONCLIENTMETRICSW ncm{};
  ncm.cbSize = sizeof ncm;
  SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof ncm, &ncm, 0);
  LOGFONTW lf = ncm.lfMessageFont;
  // The font's height is given at the screen's DPI.
  HDC dc = GetDC(nullptr);
  const int systemDpi = GetDeviceCaps(dc, LOGPIXELSY);
  ReleaseDC(nullptr, dc);
  if (lf.lfHeight == 0) lf.lfHeight = -12;
  lf.lfHeight = MulDiv(lf.lfHeight, static_cast<int>(dpi), systemDpi > 0 ? systemDpi : 96);
  return CreateFontIndirectW(&lf);
}

void centreOnScreen(HWND hwnd, SIZE size) {
  RECT work{};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  const int x = work.left + ((work.right - work.left) - size.cx) / 2;
  const int y = work.top + ((work.bottom - work.top) - size.cy) / 2;
  SetWindowPos(hwnd, nullptr, x, y, size.cx, size.cy, SWP_NOZORDER | SWP_NOACTIVATE);
}

HICON loadMainIcon(int size) {
  auto* icon = static_cast<HICON>(
      LoadImageW(GetModuleHandleW(nullptr), L"MAINICON", IMAGE_ICON, size, size, LR_DEFAULTCOLOR));
  if (icon == nullptr)
    icon =
        static_cast<HICON>(LoadImageW(nullptr, IDI_APPLICATION, IMAGE_ICON, size, size, LR_SHARED));
  return icon;
}

void registerWindowClass(const wchar_t* name, WNDPROC proc, HICON icon, HICON smallIcon) {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = proc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.hIcon = icon;
  wc.hIconSm = smallIcon;
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = name;
  RegisterClassExW(&wc);
}

HMENU makeTrayMenu(int restoreId, const std::wstring& restore, int quitId,
                   const std::wstring& quit) {
  HMENU menu = CreatePopupMenu();
  AppendMenuW(menu, MF_STRING, static_cast<UINT_PTR>(restoreId), restore.c_str());
  AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
  AppendMenuW(menu, MF_STRING, static_cast<UINT_PTR>(quitId), quit.c_str());
  return menu;
}

void openTrayMenu(HWND hwnd, HMENU menu) {
  SetForegroundWindow(hwnd);
  POINT pt{};
  GetCursorPos(&pt);
  TrackPopupMenu(menu, TPM_RIGHTBUTTON, pt.x, pt.y, 0, hwnd, nullptr);
  // So that the menu closes properly when the operator clicks elsewhere.
  PostMessageW(hwnd, WM_NULL, 0, 0);
}

void runMessageLoop() {
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

void TrayIcon::add(HWND hwnd, UINT callbackMessage, HICON icon, const std::wstring& tip) {
  data_.cbSize = sizeof data_;
  data_.hWnd = hwnd;
  data_.uID = 0;
  data_.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  data_.uCallbackMessage = callbackMessage;
  data_.hIcon = icon;
  lstrcpynW(data_.szTip, tip.c_str(), static_cast<int>(std::size(data_.szTip)));
  taskbarCreated_ = RegisterWindowMessageW(L"TaskbarCreated");
  shown_ = true;
  put();
}

bool TrayIcon::taskbarRestarted(UINT msg) {
  if (msg != taskbarCreated_ || taskbarCreated_ == 0) return false;
  // Explorer restarted: its tray is new and empty.
  if (shown_) put();
  return true;
}

void TrayIcon::remove() {
  if (!shown_) return;
  shown_ = false;
  Shell_NotifyIconW(NIM_DELETE, &data_);
}

void TrayIcon::put() {
  ++adds_;
  Shell_NotifyIconW(NIM_ADD, &data_);
}

}  // namespace shells::win32

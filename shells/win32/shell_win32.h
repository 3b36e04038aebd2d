// What the programs' Win32 window shells share: text conversion, DPI and the message font,
// the program's icon, the window class and its procedure, the tray icon with its menu, and
// the message loop. Only the window shells use this library: no other code may use the
// Win32 window API.
#pragma once

#include <windows.h>

#include <shellapi.h>

#include <string>

#include "platform/win32/wide.h"

namespace shells::win32 {

// UTF-8 inside the programs, UTF-16 at every window call.
using plat::win::narrow;
using plat::win::widen;

// The tray icon's callback message.
inline constexpr UINT kTrayMessage = WM_USER + 1;

// The window's DPI (per monitor where Windows knows it), else the screen's.
UINT dpiOf(HWND hwnd);
// A length of `v` pixels at 96 DPI, at `dpi`.
int scaled(int v, UINT dpi);
// The system's message font at the given DPI; the caller deletes it.
HFONT messageFont(UINT dpi);
// Moves the window to the middle of the work area at the given outer size.
void centreOnScreen(HWND hwnd, SIZE size);

// The program's icon "MAINICON" at the given size, else Windows' application icon.
HICON loadMainIcon(int size);

// Registers a window class with the program's icons, the arrow cursor and the button face.
// A second window of the class in the same process (tests) finds it registered.
void registerWindowClass(const wchar_t* name, WNDPROC proc, HICON icon, HICON smallIcon);

// The window procedure of a class whose windows are made with their owner object as
// CreateWindowEx's last argument: every message, once CreateWindowEx has returned the
// owner's window, goes to the owner's `handle`; before then, and once the window's user
// data is cleared, to Windows' default.
template <class Owner, LRESULT (Owner::*handle)(UINT, WPARAM, LPARAM)>
LRESULT CALLBACK windowProcOf(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_NCCREATE) {
    auto* cs = reinterpret_cast<CREATESTRUCTW*>(lp);
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
  }
  auto* owner = reinterpret_cast<Owner*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (owner == nullptr || owner->hwnd() == nullptr) return DefWindowProcW(hwnd, msg, wp, lp);
  return (owner->*handle)(msg, wp, lp);
}

// The tray icon's menu: restore, a separator, quit. The caller destroys it.
HMENU makeTrayMenu(int restoreId, const std::wstring& restore, int quitId,
                   const std::wstring& quit);
// Opens the tray menu at the cursor; its command goes to `hwnd` as WM_COMMAND.
void openTrayMenu(HWND hwnd, HMENU menu);

// Runs the thread's message loop until WM_QUIT.
void runMessageLoop();

// The program's icon in the notification area, with its callback message and its tip, put
// back when Explorer restarts ("TaskbarCreated") and taken away at the latest when this
// object goes.
class TrayIcon {
 public:
  TrayIcon() = default;
  ~TrayIcon() { remove(); }
  TrayIcon(const TrayIcon&) = delete;
  TrayIcon& operator=(const TrayIcon&) = delete;

  // Puts the icon of `hwnd` in the tray; the tip is cut to the tray's length.
  void add(HWND hwnd, UINT callbackMessage, HICON icon, const std::wstring& tip);
  // True when `msg` says Explorer restarted; the icon, when shown, is then put back.
  bool taskbarRestarted(UINT msg);
  // Takes the icon out of the tray (once).
  void remove();

  const NOTIFYICONDATAW& data() const { return data_; }
  // How many times the icon was put in the tray.
  int adds() const { return adds_; }

 private:
  void put();

  NOTIFYICONDATAW data_{};
  UINT taskbarCreated_ = 0;
  int adds_ = 0;
  bool shown_ = false;
};

}  // namespace shells::win32

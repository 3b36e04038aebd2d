#include "tefsync/win32/MainWindow.h"

#include <commctrl.h>

#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <vector>

#include "platform/display.h"
#include "platform/host.h"
#include "platform/signals.h"
#include "tefsync/shell/WindowTexts.h"

namespace tefsync::win32 {

namespace {

constexpr UINT_PTR kTimerIds[] = {1, 2};  // TimerSchedule::kApi, kPing
constexpr UINT_PTR kStopPollTimer = 3;
constexpr UINT kShowErrors = WM_APP + 1;
const wchar_t* const kClassName = L"TfrmPrincipal";

using shells::win32::centreOnScreen;
using shells::win32::dpiOf;
using shells::win32::messageFont;
using shells::win32::narrow;
using shells::win32::widen;

std::wstring windowText(HWND h) {
  std::wstring w(static_cast<size_t>(GetWindowTextLengthW(h)) + 1, L'\0');
  w.resize(static_cast<size_t>(GetWindowTextW(h, w.data(), static_cast<int>(w.size()))));
  return w;
}

// An edit control shows a line break only as CR LF.
std::wstring memoText(const std::string& s) {
  std::wstring in = widen(s), out;
  out.reserve(in.size());
  for (size_t i = 0; i < in.size(); ++i) {
    if (in[i] == L'\r') {
      out += L"\r\n";
      if (i + 1 < in.size() && in[i + 1] == L'\n') ++i;
    } else if (in[i] == L'\n') {
      out += L"\r\n";
    } else {
      out += in[i];
    }
  }
  return out;
}

void setFontOnChildren(HWND parent, HFONT font) {
  EnumChildWindows(
      parent,
      [](HWND child, LPARAM f) -> BOOL {
        SendMessageW(child, WM_SETFONT, static_cast<WPARAM>(f), TRUE);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(font));
}

// Outer size for a client area of w x h at this window's style.
SIZE outerSize(HWND hwnd, int w, int h) {
  RECT r{0, 0, w, h};
  AdjustWindowRectEx(&r, static_cast<DWORD>(GetWindowLongPtrW(hwnd, GWL_STYLE)), FALSE,
                     static_cast<DWORD>(GetWindowLongPtrW(hwnd, GWL_EXSTYLE)));
  return SIZE{r.right - r.left, r.bottom - r.top};
}

HWND child(HWND parent, const wchar_t* cls, const wchar_t* text, DWORD style, int id,
           DWORD exStyle = 0) {
  return CreateWindowExW(exStyle, cls, text, WS_CHILD | style, 0, 0, 0, 0, parent,
                         reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                         GetModuleHandleW(nullptr), nullptr);
}

void addTip(HWND tooltip, HWND owner, HWND control, const std::string& text) {
  std::wstring w = widen(text);
  TOOLINFOW ti{};
  ti.cbSize = sizeof ti;
  ti.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
  ti.hwnd = owner;
  ti.uId = reinterpret_cast<UINT_PTR>(control);
  ti.lpszText = w.data();
  SendMessageW(tooltip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&ti));
}

HWND makeTooltip(HWND owner) {
  return CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP,
                         CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, owner, nullptr,
                         GetModuleHandleW(nullptr), nullptr);
}

// A button's icon: a whole .ico file kept as raw data; its first image.
HICON loadButtonIcon(const wchar_t* name, int size) {
  HMODULE module = GetModuleHandleW(nullptr);
  HRSRC res = FindResourceW(module, name, MAKEINTRESOURCEW(10));  // RT_RCDATA
  HGLOBAL data = res != nullptr ? LoadResource(module, res) : nullptr;
  const auto* bytes = data != nullptr ? static_cast<const BYTE*>(LockResource(data)) : nullptr;
  const DWORD length = res != nullptr ? SizeofResource(module, res) : 0;
  // ICONDIR (6 bytes), then ICONDIRENTRY (16 bytes): size of the image at 8, offset at 12.
  if (bytes == nullptr || length < 22) return nullptr;
  DWORD imageSize = 0, offset = 0;
  memcpy(&imageSize, bytes + 6 + 8, 4);
  memcpy(&offset, bytes + 6 + 12, 4);
  if (offset > length || imageSize > length - offset) return nullptr;
  return CreateIconFromResourceEx(const_cast<BYTE*>(bytes + offset), imageSize, TRUE, 0x00030000,
                                  size, size, LR_DEFAULTCOLOR);
}

// An empty dialog in memory: its controls are created in WM_INITDIALOG, in pixels.
std::vector<WORD> dialogTemplate(const std::wstring& caption) {
  std::vector<WORD> t(sizeof(DLGTEMPLATE) / sizeof(WORD), 0);
  auto* d = reinterpret_cast<DLGTEMPLATE*>(t.data());
  d->style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT;
  d->cx = 100;
  d->cy = 50;
  t.push_back(0);  // no menu
  t.push_back(0);  // the standard dialog class
  for (wchar_t c : caption) t.push_back(static_cast<WORD>(c));
  t.push_back(0);
  t.push_back(9);  // point size of the font below
  for (wchar_t c : std::wstring(L"MS Shell Dlg")) t.push_back(static_cast<WORD>(c));
  t.push_back(0);
  if (t.size() % 2 != 0) t.push_back(0);
  return t;
}

// Runs a modal dialog built from `caption`; `proc` gets every message, `state` as its data.
template <class State>
INT_PTR runDialog(HWND owner, const std::string& caption, DLGPROC proc, State* state) {
  const std::vector<WORD> t = dialogTemplate(widen(caption));
  return DialogBoxIndirectParamW(GetModuleHandleW(nullptr),
                                 reinterpret_cast<const DLGTEMPLATE*>(t.data()), owner, proc,
                                 reinterpret_cast<LPARAM>(state));
}

// A dialog's state: given at WM_INITDIALOG and kept in the dialog's data; null before.
template <class State>
State* dialogState(HWND dlg, UINT msg, LPARAM lp) {
  if (msg == WM_INITDIALOG) SetWindowLongPtrW(dlg, DWLP_USER, lp);
  return reinterpret_cast<State*>(GetWindowLongPtrW(dlg, DWLP_USER));
}

// ---- the access-code box ----

struct InputBoxState {
  std::wstring prompt;
  std::wstring answer;
  HFONT font = nullptr;
};

INT_PTR CALLBACK inputBoxProc(HWND dlg, UINT msg, WPARAM wp, LPARAM lp) {
  auto* s = dialogState<InputBoxState>(dlg, msg, lp);
  switch (msg) {
    case WM_INITDIALOG: {
      const UINT dpi = dpiOf(dlg);
      auto p = [dpi](int v) { return shells::win32::scaled(v, dpi); };
      s->font = messageFont(dpi);
      HWND label = child(dlg, L"STATIC", s->prompt.c_str(), WS_VISIBLE | SS_LEFT, 100);
      HWND edit =
          child(dlg, L"EDIT", L"", WS_VISIBLE | WS_TABSTOP | ES_AUTOHSCROLL, 101, WS_EX_CLIENTEDGE);
      HWND ok = child(dlg, L"BUTTON", L"OK", WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, IDOK);
      HWND cancel = child(dlg, L"BUTTON", L"Cancelar", WS_VISIBLE | WS_TABSTOP, IDCANCEL);
      MoveWindow(label, p(12), p(12), p(320), p(20), FALSE);
      MoveWindow(edit, p(12), p(36), p(320), p(24), FALSE);
      MoveWindow(ok, p(176), p(72), p(75), p(26), FALSE);
      MoveWindow(cancel, p(257), p(72), p(75), p(26), FALSE);
      setFontOnChildren(dlg, s->font);
      centreOnScreen(dlg, outerSize(dlg, p(344), p(110)));
      SetFocus(edit);
      SetForegroundWindow(dlg);
      return FALSE;  // the focus is set
    }
    case WM_COMMAND:
      if (LOWORD(wp) == IDOK) {
        s->answer = windowText(GetDlgItem(dlg, 101));
        EndDialog(dlg, IDOK);
        return TRUE;
      }
      if (LOWORD(wp) == IDCANCEL) {
        EndDialog(dlg, IDCANCEL);
        return TRUE;
      }
      return FALSE;
    case WM_DESTROY:
      if (s != nullptr && s->font != nullptr) DeleteObject(s->font);
      return FALSE;
    default:
      return FALSE;
  }
}

// ---- the settings dialog "TfrmConfig" ----

struct ConfigDialogState {
  MainWindow* window = nullptr;
  ConfigDialogLogic* logic = nullptr;
  HFONT font = nullptr;
  HWND tooltip = nullptr;
  HICON icons[3] = {nullptr, nullptr, nullptr};
};

// The fields' and check boxes' identifiers follow the order of their tables.
constexpr int kTextFieldCount = static_cast<int>(std::size(kConfigTextFields));
constexpr int kCheckBoxCount = static_cast<int>(std::size(kConfigCheckBoxes));
static_assert(MainWindow::kTimerApi - MainWindow::kTokenVelantra + 1 == kTextFieldCount);
static_assert(MainWindow::kChkTefCielo - MainWindow::kChkTefSitef + 1 == kCheckBoxCount);

void showFields(HWND dlg, const ConfigFields& f) {
  for (int i = 0; i < kTextFieldCount; ++i)
    SetDlgItemTextW(dlg, MainWindow::kTokenVelantra + i,
                    widen(f.*kConfigTextFields[i].value).c_str());
  for (int i = 0; i < kCheckBoxCount; ++i)
    CheckDlgButton(dlg, MainWindow::kChkTefSitef + i,
                   f.*kConfigCheckBoxes[i].value ? BST_CHECKED : BST_UNCHECKED);
}

ConfigFields typedFields(HWND dlg) {
  ConfigFields f;
  for (int i = 0; i < kTextFieldCount; ++i)
    f.*kConfigTextFields[i].value =
        narrow(windowText(GetDlgItem(dlg, MainWindow::kTokenVelantra + i)));
  for (int i = 0; i < kCheckBoxCount; ++i)
    f.*kConfigCheckBoxes[i].value =
        IsDlgButtonChecked(dlg, MainWindow::kChkTefSitef + i) == BST_CHECKED;
  return f;
}

INT_PTR CALLBACK configProc(HWND dlg, UINT msg, WPARAM wp, LPARAM lp) {
  auto* s = dialogState<ConfigDialogState>(dlg, msg, lp);
  switch (msg) {
    case WM_INITDIALOG: {
      const UINT dpi = dpiOf(dlg);
      auto p = [dpi](int v) { return shells::win32::scaled(v, dpi); };
      s->font = messageFont(dpi);
      s->tooltip = makeTooltip(dlg);
      const struct {
        int id;
        const wchar_t* icon;
        const ButtonText& text;
        int x;
      } buttons[] = {{MainWindow::kBtnsair, L"ICON_VOLTAR", kBtnsair, 8},
                     {MainWindow::kBtnSalvar, L"ICON_SALVAR", kBtnSalvar, 52},
                     {MainWindow::kBtnCancelar, L"ICON_CANCELAR", kBtnCancelar, 96}};
      int i = 0;
      for (const auto& b : buttons) {
        HWND h = child(dlg, L"BUTTON", L"", WS_VISIBLE | WS_TABSTOP | BS_ICON, b.id);
        MoveWindow(h, p(b.x), p(8), p(b.text.width), p(40), FALSE);
        s->icons[i] = loadButtonIcon(b.icon, p(28));
        SendMessageW(h, BM_SETIMAGE, IMAGE_ICON, reinterpret_cast<LPARAM>(s->icons[i]));
        ++i;
        addTip(s->tooltip, dlg, h, b.text.hint);
      }
      for (int f = 0; f < kTextFieldCount; ++f) {
        const ConfigTextField& field = kConfigTextFields[f];
        HWND label = child(dlg, L"STATIC", widen(field.label).c_str(), WS_VISIBLE | SS_LEFT,
                           MainWindow::kLabelBase + f);
        MoveWindow(label, p(16), p(field.y + 4), p(196), p(20), FALSE);
        HWND edit =
            child(dlg, L"EDIT", L"",
                  WS_VISIBLE | WS_TABSTOP | ES_AUTOHSCROLL | (field.wholeNumber ? ES_NUMBER : 0),
                  MainWindow::kTokenVelantra + f, WS_EX_CLIENTEDGE);
        MoveWindow(edit, p(216), p(field.y), p(field.width), p(24), FALSE);
        if (field.wholeNumber) SendMessageW(edit, EM_SETLIMITTEXT, kWholeNumberDigits, 0);
      }
      HWND nota = child(dlg, L"STATIC", widen(kNotaIdCaixa).c_str(), WS_VISIBLE | SS_LEFT,
                        MainWindow::kNotaIdCaixa);
      MoveWindow(nota, p(326), p(170), p(390), p(36), FALSE);
      for (int c = 0; c < kCheckBoxCount; ++c) {
        HWND box = child(dlg, L"BUTTON", widen(kConfigCheckBoxes[c].text).c_str(),
                         WS_VISIBLE | WS_TABSTOP | BS_AUTOCHECKBOX, MainWindow::kChkTefSitef + c);
        MoveWindow(box, p(kConfigCheckBoxes[c].x), p(248), p(110), p(24), FALSE);
      }
      setFontOnChildren(dlg, s->font);
      centreOnScreen(dlg, outerSize(dlg, p(kConfigWidth), p(kConfigHeight)));
      // Each time the dialog is shown the file is read again.
      showFields(dlg, s->logic->shown());
      SetForegroundWindow(dlg);
      return TRUE;
    }
    case WM_COMMAND:
      switch (LOWORD(wp)) {
        case MainWindow::kBtnSalvar:
          if (s->logic->salvar(typedFields(dlg))) EndDialog(dlg, IDOK);
          return TRUE;
        case MainWindow::kBtnsair:
        case IDCANCEL:  // Escape and the close box leave as "Voltar" does
          s->logic->voltar();
          EndDialog(dlg, IDCANCEL);
          return TRUE;
        case MainWindow::kBtnCancelar:
          if (auto fields = s->logic->cancelar()) showFields(dlg, *fields);
          return TRUE;
        default:
          return FALSE;  // Enter saves nothing
      }
    case WM_DESTROY:
      if (s != nullptr) {
        if (s->font != nullptr) DeleteObject(s->font);
        for (HICON& icon : s->icons) {
          if (icon != nullptr) DestroyIcon(icon);
          icon = nullptr;
        }
      }
      return FALSE;
    default:
      return FALSE;
  }
}

}  // namespace

// ---- MainWindow ----

MainWindow::MainWindow(TfrmPrincipal::Environment env, const std::string& applicationTitle,
                       std::ostream& out, std::ostream& err)
    : instance_(GetModuleHandleW(nullptr)), logic_(std::move(env), *this, out, err) {
  INITCOMMONCONTROLSEX icc{
      sizeof icc, ICC_LISTVIEW_CLASSES | ICC_TAB_CLASSES | ICC_BAR_CLASSES | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&icc);
  icon_ = shells::win32::loadMainIcon(GetSystemMetrics(SM_CXICON));
  smallIcon_ = shells::win32::loadMainIcon(GetSystemMetrics(SM_CXSMICON));
  shells::win32::registerWindowClass(
      kClassName, shells::win32::windowProcOf<MainWindow, &MainWindow::handle>, icon_, smallIcon_);

  title_ = widen(svc().Caption);
  hwnd_ = CreateWindowExW(0, kClassName, title_.c_str(), WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN,
                          CW_USEDEFAULT, CW_USEDEFAULT, kMainWindowWidth, kMainWindowHeight,
                          nullptr, nullptr, instance_, this);
  if (hwnd_ == nullptr) throw NoWindow();
  dpi_ = dpiOf(hwnd_);
  centreOnScreen(hwnd_, outerSize(hwnd_, px(kMainWindowWidth), px(kMainWindowHeight)));
  createControls();
  applyFont();
  layout();

  PopupMenu1_ =
      shells::win32::makeTrayMenu(kRestaura, widen(kMenuRestaura), kSair, widen(kMenuSair));

  // The tray icon first; the window stays hidden.
  tray_.add(hwnd_, kTrayMessage, smallIcon_, widen(applicationTitle));

  // A console end event takes the path of "Sair do sistema".
  logic_.stopRequested = [] { return plat::stopRequested(); };
  SetTimer(hwnd_, kStopPollTimer, MainWindowLogic::kEndRequestPollMs, nullptr);

  try {
    logic_.FormCreate();
  } catch (...) {
    // A second synchronizer, or settings that cannot start: the icon and window go with it.
    release();
    throw;
  }
}

MainWindow::~MainWindow() {
  release();
}

void MainWindow::release() {
  if (hwnd_ != nullptr) {
    for (UINT_PTR id : {kTimerIds[0], kTimerIds[1], kStopPollTimer}) KillTimer(hwnd_, id);
    tray_.remove();
    SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
    DestroyWindow(hwnd_);
  }
  hwnd_ = nullptr;
  if (PopupMenu1_ != nullptr) DestroyMenu(PopupMenu1_);
  PopupMenu1_ = nullptr;
  if (font_ != nullptr) DeleteObject(font_);
  font_ = nullptr;
  for (HICON* icon : {&icon_, &smallIcon_, &buttonIcons_[0], &buttonIcons_[1]}) {
    if (*icon != nullptr) DestroyIcon(*icon);
    *icon = nullptr;
  }
}

int MainWindow::px(int v) const {
  return shells::win32::scaled(v, dpi_);
}

void MainWindow::createControls() {
  tooltip_ = makeTooltip(hwnd_);
  const struct {
    int id;
    const wchar_t* icon;
    const ButtonText& text;
  } iconButtons[] = {{kBtnClose, L"ICON_CLOSE", tefsync::kBtnClose},
                     {kBtnConfig, L"ICON_CONFIG", tefsync::kBtnConfig}};
  int i = 0;
  for (const auto& b : iconButtons) {
    HWND h = child(hwnd_, L"BUTTON", L"", WS_VISIBLE | WS_TABSTOP | BS_ICON, b.id);
    buttonIcons_[i] = loadButtonIcon(b.icon, px(28));
    SendMessageW(h, BM_SETIMAGE, IMAGE_ICON, reinterpret_cast<LPARAM>(buttonIcons_[i]));
    ++i;
    addTip(tooltip_, hwnd_, h, b.text.hint);
  }
  addTip(tooltip_, hwnd_,
         child(hwnd_, L"BUTTON", widen(tefsync::kSpeedButton1.text).c_str(),
               WS_VISIBLE | WS_TABSTOP, kSpeedButton1),
         tefsync::kSpeedButton1.hint);
  addTip(tooltip_, hwnd_,
         child(hwnd_, L"BUTTON", widen(tefsync::kBtnguiaTeste.text).c_str(), WS_TABSTOP,
               kBtnGuiaTeste),
         tefsync::kBtnguiaTeste.hint);

  HWND grid = child(
      hwnd_, WC_LISTVIEWW, L"",
      WS_VISIBLE | WS_TABSTOP | LVS_REPORT | LVS_OWNERDATA | LVS_SHOWSELALWAYS | LVS_SINGLESEL,
      kGridList, WS_EX_CLIENTEDGE);
  ListView_SetExtendedListViewStyle(grid,
                                    LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES | LVS_EX_DOUBLEBUFFER);
  int c = 0;
  for (const LogColumn& col : kLogColumns) {
    std::wstring name = widen(col.name);
    LVCOLUMNW lvc{};
    lvc.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
    lvc.pszText = name.data();
    lvc.cx = px(col.width);
    lvc.iSubItem = c;
    SendMessageW(grid, LVM_INSERTCOLUMNW, static_cast<WPARAM>(c), reinterpret_cast<LPARAM>(&lvc));
    ++c;
  }

  HWND page = child(hwnd_, WC_TABCONTROLW, L"", WS_CLIPSIBLINGS, kPage);
  for (int t = 0; t < 2; ++t) {
    std::wstring tab = widen(kPageTabs[t]);
    TCITEMW item{};
    item.mask = TCIF_TEXT;
    item.pszText = tab.data();
    SendMessageW(page, TCM_INSERTITEMW, static_cast<WPARAM>(t), reinterpret_cast<LPARAM>(&item));
  }
  for (int id : {kMmoDados, kMemoTef1, kMemoTef2, kMemoTef3, kMmoRequest, kMmoResult})
    child(hwnd_, L"EDIT", L"", ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL | WS_VSCROLL, id,
          WS_EX_CLIENTEDGE);
  child(hwnd_, L"STATIC", widen(tefsync::kLblRequest).c_str(), SS_LEFT, kLblRequest);
  child(hwnd_, L"STATIC", widen(tefsync::kLblResult).c_str(), SS_LEFT, kLblResult);
}

void MainWindow::applyFont() {
  HFONT old = font_;
  font_ = messageFont(dpi_);
  setFontOnChildren(hwnd_, font_);
  if (old != nullptr) DeleteObject(old);
}

void MainWindow::layout() {
  RECT rc{};
  GetClientRect(hwnd_, &rc);
  const int m = px(8);
  int x = m;
  const struct {
    int id;
    const ButtonText& text;
  } buttons[] = {{kBtnClose, tefsync::kBtnClose},
                 {kBtnConfig, tefsync::kBtnConfig},
                 {kSpeedButton1, tefsync::kSpeedButton1},
                 {kBtnGuiaTeste, tefsync::kBtnguiaTeste}};
  for (const auto& b : buttons) {
    const int w = px(b.text.width);
    MoveWindow(control(b.id), x, m, w, px(40), TRUE);
    x += w + px(6);
  }
  const int top = m + px(40) + px(6);
  const int height = rc.bottom - top - m;
  const int gridHeight = pageShown_ ? height * 3 / 5 : height;
  MoveWindow(control(kGridList), m, top, rc.right - 2 * m, gridHeight, TRUE);
  if (pageShown_) {
    const int py = top + gridHeight + px(6);
    const int pw = rc.right - 2 * m;
    const int ph = rc.bottom - py - m;
    MoveWindow(control(kPage), m, py, pw, ph, TRUE);
    RECT inner{m, py, m + pw, py + ph};
    SendMessageW(control(kPage), TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&inner));
    const int iw = (inner.right - inner.left - px(6)) / 2;
    const int ih = (inner.bottom - inner.top - px(6)) / 2;
    const int x2 = inner.left + iw + px(6);
    MoveWindow(control(kMmoDados), inner.left, inner.top, iw, ih, TRUE);
    MoveWindow(control(kMemoTef1), x2, inner.top, iw, ih, TRUE);
    MoveWindow(control(kMemoTef2), inner.left, inner.top + ih + px(6), iw, ih, TRUE);
    MoveWindow(control(kMemoTef3), x2, inner.top + ih + px(6), iw, ih, TRUE);
    const int lh = px(18);
    MoveWindow(control(kLblRequest), inner.left, inner.top, iw, lh, TRUE);
    MoveWindow(control(kLblResult), x2, inner.top, iw, lh, TRUE);
    const int mh = inner.bottom - inner.top - lh;
    MoveWindow(control(kMmoRequest), inner.left, inner.top + lh, iw, mh, TRUE);
    MoveWindow(control(kMmoResult), x2, inner.top + lh, iw, mh, TRUE);
  }
  showPageTab();
}

// The page control and the buffers of its selected tab.
void MainWindow::showPageTab() {
  const int tab = static_cast<int>(SendMessageW(control(kPage), TCM_GETCURSEL, 0, 0));
  ShowWindow(control(kPage), pageShown_ ? SW_SHOW : SW_HIDE);
  for (int id : {kMmoDados, kMemoTef1, kMemoTef2, kMemoTef3})
    ShowWindow(control(id), pageShown_ && tab == 0 ? SW_SHOW : SW_HIDE);
  for (int id : {kLblRequest, kLblResult, kMmoRequest, kMmoResult})
    ShowWindow(control(id), pageShown_ && tab == 1 ? SW_SHOW : SW_HIDE);
}

void MainWindow::refresh() {
  TfrmPrincipal& s = svc();
  const std::wstring title = widen(s.Caption);
  if (title != title_) {
    title_ = title;
    SetWindowTextW(hwnd_, title_.c_str());
  }
  ShowWindow(control(kBtnGuiaTeste), s.btnguiaTesteVisible ? SW_SHOW : SW_HIDE);
  if (s.pageVisible != pageShown_) {
    pageShown_ = s.pageVisible;
    layout();
  }
  const std::pair<int, const std::string*> buffers[] = {
      {kMmoDados, &s.mmoDados}, {kMemoTef1, &s.memoTef1},     {kMemoTef2, &s.memoTef2},
      {kMemoTef3, &s.memoTef3}, {kMmoRequest, &s.mmoRequest}, {kMmoResult, &s.mmoResult}};
  for (const auto& [id, text] : buffers) {
    const std::wstring t = memoText(*text);
    if (windowText(control(id)) != t) SetWindowTextW(control(id), t.c_str());
  }
  HWND grid = control(kGridList);
  const auto rows = static_cast<int>(s.tblList.size());
  SendMessageW(grid, LVM_SETITEMCOUNT, static_cast<WPARAM>(rows), LVSICF_NOINVALIDATEALL);
  InvalidateRect(grid, nullptr, FALSE);
  if (rows > 0 && IsWindowVisible(hwnd_)) {
    SendMessageW(grid, LVM_ENSUREVISIBLE, static_cast<WPARAM>(rows - 1), FALSE);
    UpdateWindow(grid);  // the log is seen to grow during a sale, which holds the loop
  }
}

void MainWindow::restartTimer(TimerSchedule::Which which, int intervalMs) {
  SetTimer(hwnd_, kTimerIds[which], static_cast<UINT>(intervalMs), nullptr);
}

void MainWindow::stopTimer(TimerSchedule::Which which) {
  KillTimer(hwnd_, kTimerIds[which]);
}

void MainWindow::showMainWindow() {
  ShowWindow(hwnd_, SW_SHOWNORMAL);
  SetForegroundWindow(hwnd_);
}

std::optional<std::string> MainWindow::inputBox(const std::string& caption,
                                                const std::string& prompt) {
  if (inputBoxHook) return inputBoxHook(caption, prompt);
  InputBoxState state;
  state.prompt = widen(prompt);
  const INT_PTR r =
      runDialog(IsWindowVisible(hwnd_) ? hwnd_ : nullptr, caption, inputBoxProc, &state);
  if (r != IDOK) return std::nullopt;
  return narrow(state.answer);
}

void MainWindow::settingsDialog() {
  ConfigDialogLogic logic(svc().frmConfig(), [this](const std::string& m) { errorBox(m); });
  ConfigDialogState state;
  state.window = this;
  state.logic = &logic;
  runDialog(IsWindowVisible(hwnd_) ? hwnd_ : nullptr, kConfigCaption, configProc, &state);
}

void MainWindow::errorBox(const std::string& message) {
  if (errorBoxHook) {
    errorBoxHook(message);
    return;
  }
  HWND owner = GetActiveWindow();
  if (owner == nullptr && IsWindowVisible(hwnd_)) owner = hwnd_;
  MessageBoxW(owner, widen(message).c_str(), tray_.data().szTip,
              MB_OK | MB_ICONERROR | MB_SETFOREGROUND);
}

void MainWindow::postShowErrors() {
  PostMessageW(hwnd_, kShowErrors, 0, 0);
}

void MainWindow::quit() {
  PostQuitMessage(0);
}

void MainWindow::trayMessage(UINT mouse) {
  if (mouse == WM_LBUTTONDBLCLK) {
    command(kRestaura);
  } else if (mouse == WM_RBUTTONDOWN) {
    shells::win32::openTrayMenu(hwnd_, PopupMenu1_);
  }
}

void MainWindow::command(int id) {
  switch (id) {
    case kRestaura:
      logic_.restauraClick();
      break;
    case kSair:
      logic_.sairClick();
      break;
    case kBtnClose:
      logic_.btnCloseClick();
      break;
    case kBtnConfig:
      logic_.btnConfigClick();
      break;
    case kSpeedButton1:
      logic_.SpeedButton1Click();
      break;
    case kBtnGuiaTeste:
      logic_.btnguiaTesteClick();
      break;
    default:
      break;
  }
}

LRESULT MainWindow::handle(UINT msg, WPARAM wp, LPARAM lp) {
  if (tray_.taskbarRestarted(msg)) return 0;
  switch (msg) {
    case kTrayMessage:
      trayMessage(static_cast<UINT>(LOWORD(lp)));
      break;  // and the normal handling
    case WM_COMMAND:
      if (HIWORD(wp) == 0 || HIWORD(wp) == BN_CLICKED) command(LOWORD(wp));
      return 0;
    case WM_TIMER:
      if (wp == kTimerIds[TimerSchedule::kApi])
        logic_.timerFired(TimerSchedule::kApi);
      else if (wp == kTimerIds[TimerSchedule::kPing])
        logic_.timerFired(TimerSchedule::kPing);
      else if (wp == kStopPollTimer && logic_.checkEndRequest())
        KillTimer(hwnd_, kStopPollTimer);
      return 0;
    case kShowErrors:
      logic_.showPendingErrors();
      return 0;
    case WM_ACTIVATE:
      if (LOWORD(wp) != WA_INACTIVE) logic_.activated();
      break;
    case WM_CLOSE:
      // Closing only hides; the service goes on in the tray.
      ShowWindow(hwnd_, SW_HIDE);
      return 0;
    case WM_QUERYENDSESSION:
      return TRUE;
    case WM_ENDSESSION:
      // Windows shuts down or logs off: end as "Sair do sistema" does.
      if (wp != 0) {
        logic_.endSession();
        tray_.remove();
      }
      return 0;
    case WM_SIZE:
      layout();
      return 0;
    case WM_DPICHANGED: {
      dpi_ = HIWORD(wp);
      const RECT* r = reinterpret_cast<const RECT*>(lp);
      SetWindowPos(hwnd_, nullptr, r->left, r->top, r->right - r->left, r->bottom - r->top,
                   SWP_NOZORDER | SWP_NOACTIVATE);
      applyFont();
      layout();
      return 0;
    }
    case WM_NOTIFY: {
      const auto* hdr = reinterpret_cast<const NMHDR*>(lp);
      if (hdr->idFrom == static_cast<UINT_PTR>(kGridList) && hdr->code == LVN_GETDISPINFOW) {
        auto* di = reinterpret_cast<NMLVDISPINFOW*>(lp);
        const auto& rows = svc().tblList;
        const auto item = static_cast<size_t>(di->item.iItem);
        if ((di->item.mask & LVIF_TEXT) != 0 && item < rows.size()) {
          cell_ = widen(logCell(rows[item], di->item.iSubItem));
          lstrcpynW(di->item.pszText, cell_.c_str(), di->item.cchTextMax);
        }
        return 0;
      }
      if (hdr->idFrom == static_cast<UINT_PTR>(kPage) && hdr->code == TCN_SELCHANGE) {
        showPageTab();
        return 0;
      }
      break;
    }
    default:
      break;
  }
  return DefWindowProcW(hwnd_, msg, wp, lp);
}

int MainWindow::run() {
  if (svc().endRequested) return 0;
  shells::win32::runMessageLoop();
  return 0;
}

namespace {

// The running synchronizer's main window in this session (FindWindow sees only this
// desktop's windows), asked to come forward; false when there is none here.
bool bringRunningForward() {
  const std::wstring titulo = widen(TfrmPrincipal::kTitulo);
  HWND other = nullptr;
  while ((other = FindWindowExW(nullptr, other, kClassName, titulo.c_str())) != nullptr) {
    DWORD pid = 0;
    GetWindowThreadProcessId(other, &pid);
    if (pid == GetCurrentProcessId()) continue;
    // This process was just started by the user and may give the foreground away.
    AllowSetForegroundWindow(pid);
    return PostMessageW(other, WM_COMMAND, MAKEWPARAM(MainWindow::kRestaura, 0), 0) != 0;
  }
  return false;
}

}  // namespace

int runWindows(TfrmPrincipal::Environment env) {
  plat::installStopSignals();
  const std::string title = plat::applicationTitle(plat::executablePath());
  std::unique_ptr<MainWindow> window;
  try {
    window = std::make_unique<MainWindow>(std::move(env), title, std::cout, std::cerr);
  } catch (const NoWindow&) {
    return -1;  // no display (Wine without X): the caller runs headless
  } catch (const SincronizadorEmExecucao& e) {
    std::cerr << "tefsync: " << e.what() << std::endl;
    if (!bringRunningForward())
      MessageBoxW(nullptr, widen(e.what()).c_str(), widen(title).c_str(),
                  MB_OK | MB_ICONINFORMATION | MB_SETFOREGROUND);
    return 3;
  }
  return window->run();
}

}  // namespace tefsync::win32

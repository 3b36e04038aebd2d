// The Windows shells' real windows (run under Wine): tefsync's main window, tray record,
// menu, event log, access-code box and settings dialog, the guardian's window, and the tray
// icon both share, driven by the messages Windows and the operator send. Virtual clock; temporary
// folders.
#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <sstream>

#include "platform/clock.h"
#include "platform/http.h"
#include "platform/lock.h"
#include "procguard/win32/JanelaWin32.h"
#include "shells/win32/shell_win32.h"
#include "tefsync/win32/MainWindow.h"
#include "tests/platform/temp_drive.h"
#include "tests/procguard/processos_contados.h"
#include "tests/shell/shell_fixture.h"

namespace {

using procguard::win32::JanelaWin32;
using tefsync::win32::MainWindow;

using shelltest::kCodeOfTheDay;
using shelltest::kToday;
using shelltest::NoNetwork;

std::wstring w(const std::string& s) {
  return shells::win32::widen(s);
}

std::wstring text(HWND h) {
  wchar_t buf[512] = {};
  GetWindowTextW(h, buf, 512);
  return buf;
}

std::wstring menuText(HMENU menu, int pos) {
  wchar_t buf[128] = {};
  GetMenuStringW(menu, static_cast<UINT>(pos), buf, 128, MF_BYPOSITION);
  return buf;
}

SIZE clientSize(HWND h) {
  RECT r{};
  GetClientRect(h, &r);
  return SIZE{r.right, r.bottom};
}

// Leaves no quit request behind for the next test.
void drainMessages() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
}

// Runs `action` once inside the next modal loop, on the first top-level window titled
// `title` of this process.
std::function<void(HWND)>* pendingAction = nullptr;
std::wstring pendingTitle;
void onModal(const std::string& title, std::function<void(HWND)>& action) {
  pendingTitle = w(title);
  pendingAction = &action;
  SetTimer(nullptr, 0, 10, [](HWND, UINT, UINT_PTR id, DWORD) {
    HWND found = FindWindowW(L"#32770", pendingTitle.c_str());
    if (found == nullptr || pendingAction == nullptr) return;
    KillTimer(nullptr, id);
    auto* action = pendingAction;
    pendingAction = nullptr;
    (*action)(found);
  });
}

class TefsyncWindow : public testing::Test {
 public:
  TefsyncWindow() {
    std::filesystem::create_directories(drive_.at("exe"));
    TempDrive::put(settingsFile(),
                   "[CONF]\r\nURLBASE=https://cloud.example/api/\r\nidvelantra=9\r\n");
    tefsync::TfrmPrincipal::Environment env;
    env.exeDir = exeDir_;
    env.computerName = "CAIXA01";
    env.makeHttp = [](const std::string&) { return std::make_unique<NoNetwork>(); };
    window_ = std::make_unique<MainWindow>(env, "Tefsync", out_, err_);
    window_->errorBoxHook = [](const std::string& m) { ADD_FAILURE() << "error box: " << m; };
  }
  ~TefsyncWindow() override {
    window_.reset();
    drainMessages();
  }
  // The program's folder, on drive C as a shop has it; the test reaches it natively.
  std::string settingsFile() const { return drive_.at("exe/configAPI_TEF.ini"); }
  LRESULT send(UINT msg, WPARAM wp = 0, LPARAM lp = 0) {
    return SendMessageW(window_->hwnd(), msg, wp, lp);
  }

  TempDrive drive_;
  plat::VirtualClock clock_{kToday};
  plat::ScopedClock scoped_{clock_};
  const std::string exeDir_ = "C:\\exe\\";
  std::ostringstream out_, err_;
  std::unique_ptr<MainWindow> window_;
};

TEST_F(TefsyncWindow, StartsHiddenInTheTrayWithItsControls) {
  HWND h = window_->hwnd();
  EXPECT_FALSE(IsWindowVisible(h));
  EXPECT_EQ(text(h), w("API de Integracao TEF x Velantra - Versão 2021.801"));
  const SIZE c = clientSize(h);
  EXPECT_EQ(c.cx, 692);
  EXPECT_EQ(c.cy, 571);

  const NOTIFYICONDATAW& tray = window_->trayIconData();
  EXPECT_EQ(tray.hWnd, h);
  EXPECT_EQ(tray.uID, 0u);
  EXPECT_EQ(tray.uFlags, 7u) << "message + icon + tip";
  EXPECT_EQ(tray.uCallbackMessage, 1025u);
  EXPECT_NE(tray.hIcon, nullptr);
  EXPECT_STREQ(tray.szTip, L"Tefsync");

  HMENU menu = window_->PopupMenu1();
  ASSERT_EQ(GetMenuItemCount(menu), 3);
  EXPECT_EQ(menuText(menu, 0), L"Restaurar programa - Norvanta");
  EXPECT_EQ(GetMenuState(menu, 1, MF_BYPOSITION) & MF_SEPARATOR, static_cast<UINT>(MF_SEPARATOR));
  EXPECT_EQ(menuText(menu, 2), L"Sair do sistema");

  EXPECT_EQ(text(window_->control(MainWindow::kSpeedButton1)), L"ADM - Sitef");
  EXPECT_EQ(text(window_->control(MainWindow::kBtnGuiaTeste)), L"Guia de testes");
  EXPECT_FALSE(IsWindowVisible(window_->control(MainWindow::kBtnGuiaTeste)) &&
               GetWindowLongPtrW(window_->control(MainWindow::kBtnGuiaTeste), GWL_STYLE) &
                   WS_VISIBLE)
      << "no test guide on this computer";
  EXPECT_TRUE(GetWindowLongPtrW(window_->control(MainWindow::kBtnClose), GWL_STYLE) & BS_ICON);

  HWND grid = window_->control(MainWindow::kGridList);
  EXPECT_EQ(GetWindowLongPtrW(grid, GWL_STYLE) & LVS_TYPEMASK, LVS_REPORT);
  const wchar_t* const columns[] = {L"Operacao", L"Data", L"Hora", L"Mensagem"};
  for (int i = 0; i < 4; ++i) {
    wchar_t buf[64] = {};
    LVCOLUMNW col{};
    col.mask = LVCF_TEXT;
    col.pszText = buf;
    col.cchTextMax = 64;
    ASSERT_TRUE(
        SendMessageW(grid, LVM_GETCOLUMNW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&col)));
    EXPECT_STREQ(buf, columns[i]);
  }
  EXPECT_TRUE(std::filesystem::is_directory(drive_.at("exe/ping")));
}

TEST_F(TefsyncWindow, TrayDoubleClickShowsAndClosingHides) {
  TempDrive::put(settingsFile(), "[CONF]\r\nURLBASE=https://outro.example/api/\r\n");
  send(tefsync::win32::kTrayMessage, 0, WM_LBUTTONDBLCLK);
  EXPECT_TRUE(IsWindowVisible(window_->hwnd()));
  EXPECT_EQ(window_->svc().frmConfig().urlBase, "https://outro.example/api/");
  send(WM_CLOSE);
  EXPECT_FALSE(IsWindowVisible(window_->hwnd()));
  EXPECT_FALSE(window_->svc().endRequested) << "closing only hides";
  send(WM_COMMAND, MainWindow::kRestaura);
  EXPECT_TRUE(IsWindowVisible(window_->hwnd()));
}

TEST_F(TefsyncWindow, WindowsShutdownEndsAsSairDoSistema) {
  EXPECT_EQ(send(WM_QUERYENDSESSION), TRUE);
  EXPECT_FALSE(window_->svc().endRequested);
  send(WM_ENDSESSION, TRUE);
  EXPECT_TRUE(window_->svc().endRequested);
  MSG msg;
  EXPECT_TRUE(PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) << "the loop ends";
}

TEST_F(TefsyncWindow, TrayIconComesBackWhenExplorerRestarts) {
  const int before = window_->trayAdds();
  send(RegisterWindowMessageW(L"TaskbarCreated"));
  EXPECT_EQ(window_->trayAdds(), before + 1);
}

TEST_F(TefsyncWindow, EventLogInTheListView) {
  HWND grid = window_->control(MainWindow::kGridList);
  auto cell = [grid](int row, int col) {
    wchar_t buf[128] = {};
    LVITEMW item{};
    item.iSubItem = col;
    item.pszText = buf;
    item.cchTextMax = 128;
    SendMessageW(grid, LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
    return std::wstring(buf);
  };
  tefsync::TfrmPrincipal& svc = window_->svc();
  svc.tblList.clear();
  for (int i = 1; i <= 1001; ++i) svc.addList("Linha " + std::to_string(i), "msg ção");
  ASSERT_EQ(SendMessageW(grid, LVM_GETITEMCOUNT, 0, 0), 1001);
  EXPECT_EQ(cell(1000, 0), L"Linha 1001");
  EXPECT_EQ(cell(1000, 1), L"05/03/2024");
  EXPECT_EQ(cell(1000, 2), L"10:20:30");
  EXPECT_EQ(cell(1000, 3), w("msg ção"));
  svc.addList("Depois", "");
  ASSERT_EQ(SendMessageW(grid, LVM_GETITEMCOUNT, 0, 0), 1) << "the full log empties first";
  EXPECT_EQ(cell(0, 0), L"Depois");
}

// The real access-code box and settings dialog, answered from inside their modal loops.
TEST_F(TefsyncWindow, AccessCodeBoxAndSettingsDialog) {
  bool prompted = false, opened = false;
  std::function<void(HWND)> inDialog = [&](HWND dlg) {
    opened = true;
    const SIZE c = clientSize(dlg);
    EXPECT_EQ(c.cx, 723);
    EXPECT_EQ(c.cy, 352);
    struct Label {
      int field;
      const char* text;
    } labels[] = {{MainWindow::kTokenVelantra, "Token Velantra ( Token Fixo ):"},
                  {MainWindow::kEdtCnpjTEf, "CNPJ do TEF:"},
                  {MainWindow::kIdvelantra, "Id Velantra:"},
                  {MainWindow::kIdCaixa, "Id Caixa:"},
                  {MainWindow::kUrlBase, "URL Base:"},
                  {MainWindow::kTimerApi, "Timer API ( segundos )"}};
    for (const Label& l : labels)
      EXPECT_EQ(
          text(GetDlgItem(dlg, MainWindow::kLabelBase + l.field - MainWindow::kTokenVelantra)),
          w(l.text));
    EXPECT_EQ(text(GetDlgItem(dlg, MainWindow::kNotaIdCaixa)),
              L"Se Id Caixa for igual 0, funciona para todos, senao informar o ID...");
    EXPECT_EQ(text(GetDlgItem(dlg, MainWindow::kChkTefSitef)), L"TEF Sitef");
    EXPECT_EQ(text(GetDlgItem(dlg, MainWindow::kChkTefCielo)), L"TEF Cielo");
    for (int id : {MainWindow::kIdvelantra, MainWindow::kIdCaixa, MainWindow::kTimerApi}) {
      HWND e = GetDlgItem(dlg, id);
      EXPECT_TRUE(GetWindowLongPtrW(e, GWL_STYLE) & ES_NUMBER) << id;
      EXPECT_EQ(SendMessageW(e, EM_GETLIMITTEXT, 0, 0), 9) << id;
    }
    EXPECT_EQ(text(GetDlgItem(dlg, MainWindow::kUrlBase)), L"https://cloud.example/api/");
    EXPECT_EQ(text(GetDlgItem(dlg, MainWindow::kTimerApi)), L"10");
    EXPECT_FALSE(window_->svc().timerApi.Enabled) << "no poll while the dialog is open";
    SetDlgItemTextW(dlg, MainWindow::kUrlBase, L"https://novo.example/api/");
    CheckDlgButton(dlg, MainWindow::kChkTefSitef, BST_CHECKED);
    SendMessageW(dlg, WM_COMMAND, MainWindow::kBtnSalvar, 0);
    // A failed save keeps the dialog open: leave it, so the test fails instead of hanging.
    if (TempDrive::get(settingsFile()).find("novo.example") == std::string::npos)
      SendMessageW(dlg, WM_COMMAND, MainWindow::kBtnsair, 0);
  };
  std::function<void(HWND)> inPrompt = [&](HWND box) {
    prompted = true;
    EXPECT_EQ(text(GetDlgItem(box, 100)), L"Informe a senha do dia: 05/03/24");
    SetDlgItemTextW(box, 101, w(kCodeOfTheDay).c_str());
    onModal("Configuração de dados para  integração", inDialog);
    SendMessageW(box, WM_COMMAND, IDOK, 0);
  };
  onModal("Senha do dia", inPrompt);
  send(WM_COMMAND, MainWindow::kBtnConfig);
  EXPECT_TRUE(prompted);
  EXPECT_TRUE(opened);
  const std::string file = TempDrive::get(settingsFile());
  EXPECT_NE(file.find("URLBASE=https://novo.example/api/"), std::string::npos) << file;
  EXPECT_NE(file.find("chkTefSitef=SIM"), std::string::npos) << file;
  EXPECT_TRUE(window_->svc().timerApi.Enabled);
}

// ---- the tray icon both shells share ----

// Explorer restarting puts the icon back only while it is shown: once taken away (Windows
// shutting down, the program ending) it stays away.
TEST(ShellTrayIcon, PutBackAfterExplorerRestartsOnlyWhileShown) {
  HWND h = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                           GetModuleHandleW(nullptr), nullptr);
  ASSERT_NE(h, nullptr);
  const UINT restarted = RegisterWindowMessageW(L"TaskbarCreated");
  {
    shells::win32::TrayIcon tray;
    tray.add(h, shells::win32::kTrayMessage, nullptr, std::wstring(200, L'x'));
    EXPECT_EQ(tray.adds(), 1);
    EXPECT_EQ(std::wstring(tray.data().szTip), std::wstring(127, L'x'))
        << "a long title is cut to the tray's tip";
    EXPECT_FALSE(tray.taskbarRestarted(WM_USER + 2));
    EXPECT_TRUE(tray.taskbarRestarted(restarted));
    EXPECT_EQ(tray.adds(), 2);
    tray.remove();
    EXPECT_TRUE(tray.taskbarRestarted(restarted)) << "still Explorer's message";
    EXPECT_EQ(tray.adds(), 2) << "not put back once taken away";
  }
  DestroyWindow(h);
}

// ---- the guardian ----

class GuardianWindow : public testing::Test {
 public:
  GuardianWindow() { std::filesystem::create_directories(drive_.at("guardiao")); }
  ~GuardianWindow() override { drainMessages(); }
  std::unique_ptr<JanelaWin32> abrir(const std::string& nomeEXE) {
    TempDrive::put(drive_.at("guardiao/ConfigGuardian.ini"),
                   "[CONFIG]\r\nnomeEXE=" + nomeEXE + "\r\n");
    return std::make_unique<JanelaWin32>(
        processos_, pasta_, "Procguard",
        [this](const std::string& t, bool erro) { (erro ? erros_ : mensagens_).push_back(t); });
  }

  TempDrive drive_;
  plat::VirtualClock relogio_{kToday};
  plat::ScopedClock escopo_{relogio_};
  const std::string pasta_ = "C:\\guardiao\\";
  ProcessosContados processos_;
  std::vector<std::string> mensagens_, erros_;
};

TEST_F(GuardianWindow, StartsHiddenWithItsCaptionsAndMenu) {
  auto janela = abrir("tefsync.exe");
  EXPECT_EQ(janela->trayAdds(), 0) << "nothing of the start-up before Iniciar";
  janela->Iniciar();
  HWND h = janela->hwnd();
  EXPECT_FALSE(IsWindowVisible(h));
  EXPECT_EQ(text(h), L"Guardian de Processos");
  RECT r{};
  GetWindowRect(h, &r);
  EXPECT_EQ(r.right - r.left, 414);
  EXPECT_EQ(r.bottom - r.top, 195);
  EXPECT_EQ(text(janela->control(JanelaWin32::kBtnReiniciarSinc)),
            L"Reiniciar sincronizador tefsync.exe");
  EXPECT_EQ(text(janela->control(JanelaWin32::kBtnEncerraSinc)),
            L"Encerrar sincronizador tefsync.exe");
  EXPECT_STREQ(janela->trayIconData().szTip, L"Procguard");
  EXPECT_EQ(janela->trayIconData().uCallbackMessage, 1025u);
  EXPECT_EQ(janela->trayIconData().uFlags, 7u);
  HMENU menu = janela->PopupMenu1();
  ASSERT_EQ(GetMenuItemCount(menu), 3);
  EXPECT_EQ(menuText(menu, 0), L"Restaurar programa");
  EXPECT_EQ(menuText(menu, 2), L"Sair do sistema");
  const int adds = janela->trayAdds();
  SendMessageW(h, RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);
  EXPECT_EQ(janela->trayAdds(), adds + 1) << "the icon comes back when Explorer restarts";
  EXPECT_TRUE(mensagens_.empty());
  EXPECT_EQ(processos_.vivos, 1);
  EXPECT_TRUE(janela->Timer1Ligado());
  EXPECT_FALSE(janela->VezLigado());
}

// While another guardian holds the folder: no tray icon, nothing started, no ping folder,
// and a log-off ends nothing; the lock is tried again on the timer, and once it is free the
// start-up runs.
TEST_F(GuardianWindow, WaitsWithoutTrayIconWhileAnotherGuardianHoldsTheFolder) {
  plat::FileLock::Result r{};
  std::string erro;
  auto outro = plat::FileLock::tryTake(pasta_ + "procguard.lock", r, erro);
  ASSERT_EQ(r, plat::FileLock::Result::Taken) << erro;
  {
    auto janela = abrir("tefsync.exe");
    janela->Iniciar();
    EXPECT_EQ(janela->trayAdds(), 0);
    EXPECT_FALSE(IsWindowVisible(janela->hwnd()));
    EXPECT_TRUE(janela->VezLigado());
    EXPECT_FALSE(janela->Timer1Ligado());
    SendMessageW(janela->hwnd(), RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);
    SendMessageW(janela->hwnd(), WM_TIMER, JanelaWin32::kTimerVez, 0);
    EXPECT_EQ(janela->trayAdds(), 0) << "still held";
    SendMessageW(janela->hwnd(), WM_ENDSESSION, TRUE, 0);
    EXPECT_EQ(processos_.encerramentos, 0) << "the synchronizer is the other guardian's";
    EXPECT_EQ(processos_.vivos, 0);
    EXPECT_FALSE(std::filesystem::exists(drive_.at("guardiao/ping")));
    EXPECT_TRUE(mensagens_.empty());
    EXPECT_TRUE(erros_.empty());
  }
  drainMessages();
  auto janela = abrir("tefsync.exe");
  janela->Iniciar();
  ASSERT_TRUE(janela->VezLigado());
  outro.reset();
  SendMessageW(janela->hwnd(), WM_TIMER, JanelaWin32::kTimerVez, 0);
  EXPECT_EQ(janela->trayAdds(), 1);
  EXPECT_FALSE(janela->VezLigado());
  EXPECT_TRUE(janela->Timer1Ligado());
  EXPECT_EQ(text(janela->control(JanelaWin32::kBtnReiniciarSinc)),
            L"Reiniciar sincronizador tefsync.exe");
  EXPECT_EQ(processos_.vivos, 1);
}

TEST_F(GuardianWindow, MissingNameIsShownAndRestoreAndCloseBehave) {
  auto janela = abrir("");
  janela->Iniciar();
  ASSERT_EQ(mensagens_.size(), 1u);
  EXPECT_EQ(mensagens_[0], "Nome do EXE nao configurado");
  SendMessageW(janela->hwnd(), procguard::win32::kTrayMessage, 0, WM_LBUTTONDBLCLK);
  EXPECT_TRUE(IsWindowVisible(janela->hwnd()));
  SendMessageW(janela->hwnd(), WM_CLOSE, 0, 0);
  EXPECT_FALSE(IsWindowVisible(janela->hwnd()));
  EXPECT_EQ(processos_.encerramentos, 0);
}

TEST_F(GuardianWindow, ButtonsAndShutdown) {
  struct Case {
    const char* name;
    UINT msg;
    WPARAM wp;
    int encerramentos;
    bool fim;
  } cases[] = {
      {"Reiniciar", WM_COMMAND, JanelaWin32::kBtnReiniciarSinc, 1, false},
      {"Encerrar", WM_COMMAND, JanelaWin32::kBtnEncerraSinc, 1, true},
      {"Sair do sistema", WM_COMMAND, JanelaWin32::kSair, 1, true},
      {"Windows shutting down", WM_ENDSESSION, TRUE, 2, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    processos_ = ProcessosContados{};
    auto janela = abrir("tefsync.exe");
    janela->Iniciar();
    SendMessageW(janela->hwnd(), c.msg, c.wp, 0);
    EXPECT_EQ(processos_.encerramentos, c.encerramentos);
    MSG msg;
    EXPECT_EQ(PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) != 0, c.fim);
    if (!c.fim) {
      EXPECT_EQ(processos_.vivos, 1) << "started again";
      bool registro = false;
      for (const auto& e : std::filesystem::directory_iterator(drive_.at("guardiao/ping")))
        registro |= e.path().filename().string().rfind("Restart_em_05032024_", 0) == 0;
      EXPECT_TRUE(registro) << "a restart record";
    }
    janela.reset();
    drainMessages();
  }
}

}  // namespace

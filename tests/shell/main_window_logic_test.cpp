// What tefsync's window shells do, through a fake of their windows: the contract both the
// Qt and the Win32 window are views of (access code, settings dialog, activation, error
// boxes after the tick, heartbeat under every modal box, the timers, the end commands, the
// event log), on the virtual clock, with drive C and the program's folder in a temporary
// folder and no network.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/fs.h"
#include "platform/http.h"
#include "tefsync/shell/MainWindowLogic.h"
#include "tefsync/shell/WindowTexts.h"
#include "tests/platform/temp_drive.h"
#include "tests/shell/shell_fixture.h"

namespace {

using tefsync::ConfigDialogLogic;
using tefsync::ConfigFields;
using tefsync::MainWindowLogic;
using tefsync::TimerSchedule;

using shelltest::kCodeOfTheDay;
using shelltest::kToday;
using shelltest::NoNetwork;
using shelltest::UnexpectedFault;

// The windows, as the logic sees them. Modal boxes run the given hooks; a posted request
// to show the error boxes waits for pump(), as it waits for the event loop.
class FakeView final : public tefsync::MainWindowView {
 public:
  std::map<TimerSchedule::Which, int> running;  // timer -> interval
  int starts[2] = {0, 0};
  bool shown = false;
  bool quitAsked = false;
  bool showErrorsPosted = false;
  int refreshes = 0;
  std::function<void()> onRefresh;
  std::function<std::optional<std::string>(const std::string&, const std::string&)> onInput;
  std::function<void()> onSettings;
  std::function<void(const std::string&)> onError;

  void restartTimer(TimerSchedule::Which w, int ms) override {
    running[w] = ms;
    ++starts[w];
  }
  void stopTimer(TimerSchedule::Which w) override { running.erase(w); }
  void showMainWindow() override { shown = true; }
  void refresh() override {
    ++refreshes;
    if (onRefresh) onRefresh();
  }
  std::optional<std::string> inputBox(const std::string& caption,
                                      const std::string& prompt) override {
    if (!onInput) ADD_FAILURE() << "unexpected input box";
    return onInput ? onInput(caption, prompt) : std::nullopt;
  }
  void settingsDialog() override {
    if (!onSettings) ADD_FAILURE() << "unexpected settings dialog";
    if (onSettings) onSettings();
  }
  void errorBox(const std::string& message) override {
    if (!onError) ADD_FAILURE() << "unexpected error box: " << message;
    if (onError) onError(message);
  }
  void postShowErrors() override { showErrorsPosted = true; }
  void quit() override { quitAsked = true; }
  bool on(TimerSchedule::Which w) const { return running.count(w) != 0; }
};

class ShellLogic : public testing::Test {
 public:
  ShellLogic() {
    std::filesystem::create_directories(drive_.at("exe"));
    writeSettings("URLBASE=https://cloud.example/api/\r\nidvelantra=9\r\nIdCaixa=0\r\n");
  }

  void writeSettings(const std::string& lines) {
    TempDrive::put(settingsFile(), "[CONF]\r\n" + lines);
  }
  // The program's folder, on drive C as a shop has it; the test reaches it natively.
  std::string settingsFile() const { return drive_.at("exe/configAPI_TEF.ini"); }
  std::string settingsText() const { return TempDrive::get(settingsFile()); }

  MainWindowLogic& open(const std::string& computerName = "CAIXA01") {
    tefsync::TfrmPrincipal::Environment env;
    env.exeDir = exeDir_;
    env.computerName = computerName;
    env.makeHttp = [this](const std::string&) { return std::make_unique<NoNetwork>(&unexpected_); };
    logic_.reset();
    view_ = std::make_unique<FakeView>();
    logic_ = std::make_unique<MainWindowLogic>(env, *view_, out_, err_);
    logic_->FormCreate();
    return *logic_;
  }
  tefsync::TfrmPrincipal& svc() { return logic_->svc(); }

  // The event loop runs what was posted to it.
  void pump() {
    if (view_->showErrorsPosted) {
      view_->showErrorsPosted = false;
      logic_->showPendingErrors();
    }
  }

  // The settings dialog through the access code; `inDialog` runs while it is open.
  void throughSettings(const std::function<void(ConfigDialogLogic&, ConfigFields&)>& inDialog) {
    view_->onInput = [](const std::string&, const std::string&) {
      return std::optional<std::string>(kCodeOfTheDay);
    };
    bool opened = false;
    view_->onSettings = [&] {
      opened = true;
      EXPECT_FALSE(view_->on(TimerSchedule::kApi)) << "no poll while the dialog is open";
      ConfigDialogLogic dialog(svc().frmConfig(),
                               [this](const std::string& m) { dialogError_ = m; });
      ConfigFields fields = dialog.shown();
      inDialog(dialog, fields);
    };
    logic_->btnConfigClick();
    ASSERT_TRUE(opened);
  }

  // Drops the guardian's test file and lets the heartbeat timer tick, as the modal loop
  // of any open box does.
  bool heartbeatAnswered() {
    const std::string ping = svc().pingFolder();
    TempDrive::put(drive_.at("exe/ping/test-ping.txt"), "teste");
    clock_.advanceMs(20000);
    if (!view_->on(TimerSchedule::kPing)) return false;
    logic_->timerFired(TimerSchedule::kPing);
    return !plat::fileExists(ping + "test-ping.txt") && plat::fileExists(ping + "resp-ping.txt");
  }

  TempDrive drive_;
  plat::VirtualClock clock_{kToday};
  plat::ScopedClock scoped_{clock_};
  const std::string exeDir_ = "C:\\exe\\";
  bool unexpected_ = false;
  std::ostringstream out_, err_;
  std::unique_ptr<FakeView> view_;
  std::unique_ptr<MainWindowLogic> logic_;
  std::string dialogError_;
};

TEST_F(ShellLogic, StartsHiddenWithBothTimers) {
  open();
  EXPECT_FALSE(view_->shown);
  EXPECT_EQ(svc().Caption, "API de Integracao TEF x Velantra - Versão 2021.801");
  EXPECT_EQ(view_->running[TimerSchedule::kApi], 1000);
  EXPECT_EQ(view_->running[TimerSchedule::kPing], 10000);
  EXPECT_TRUE(std::filesystem::is_directory(drive_.at("exe/ping")));
}

TEST_F(ShellLogic, AccessCode) {
  struct Case {
    const char* name;
    const char* computer;
    std::optional<std::string> answer;
    bool opens;
  } cases[] = {
      {"right", "CAIXA01", kCodeOfTheDay, true},
      {"wrong", "CAIXA01", "0508033225", false},
      {"blank before", "CAIXA01", std::string(" ") + kCodeOfTheDay, false},
      {"blank after", "CAIXA01", std::string(kCodeOfTheDay) + " ", false},
      {"empty", "CAIXA01", "", false},
      {"cancelled", "CAIXA01", std::nullopt, false},
      {"test computer", "QUADRIX", "9073", true},
      {"day code on the test computer", "QUADRIX", kCodeOfTheDay, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    open(c.computer);
    std::string caption, prompt;
    bool pollOnDuringPrompt = true;
    view_->onInput = [&](const std::string& cap, const std::string& p) {
      caption = cap;
      prompt = p;
      pollOnDuringPrompt = view_->on(TimerSchedule::kApi) || svc().timerApi.Enabled;
      return c.answer;
    };
    bool opened = false;
    view_->onSettings = [&] {
      opened = true;
      EXPECT_FALSE(view_->on(TimerSchedule::kApi));
    };
    logic_->btnConfigClick();
    pump();
    EXPECT_EQ(opened, c.opens);
    EXPECT_EQ(caption, "Senha do dia");
    EXPECT_EQ(prompt, "Informe a senha do dia: 05/03/24");
    EXPECT_FALSE(pollOnDuringPrompt) << "the poll timer is off while the prompt is open";
    EXPECT_TRUE(view_->on(TimerSchedule::kApi)) << "and on again afterwards";
    EXPECT_TRUE(svc().timerApi.Enabled);
    EXPECT_FALSE(view_->showErrorsPosted) << "no message for a wrong or cancelled code";
  }
}

TEST_F(ShellLogic, SaveBackAndCancel) {
  struct Case {
    const char* name;
    std::function<void(ConfigDialogLogic&, ConfigFields&)> act;
    bool saved;
  } cases[] = {
      {"Salvar", [](ConfigDialogLogic& d, ConfigFields& f) { EXPECT_TRUE(d.salvar(f)); }, true},
      {"Voltar", [](ConfigDialogLogic& d, ConfigFields&) { d.voltar(); }, false},
      {"Cancelar",
       [](ConfigDialogLogic& d, ConfigFields&) {
         const std::optional<ConfigFields> shown = d.cancelar();
         ASSERT_TRUE(shown.has_value()) << "Cancelar keeps the dialog open";
         EXPECT_EQ(shown->urlBase, "https://cloud.example/api/");
         EXPECT_EQ(shown->IdCaixa, "0");
         EXPECT_FALSE(shown->chkTefCielo);
         d.voltar();
       },
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    writeSettings("URLBASE=https://cloud.example/api/\r\nidvelantra=9\r\nIdCaixa=0\r\n");
    const std::string before = settingsText();
    open();
    throughSettings([&](ConfigDialogLogic& d, ConfigFields& f) {
      EXPECT_EQ(f.urlBase, "https://cloud.example/api/") << "the fields show the file";
      EXPECT_EQ(f.timerApi, "10") << "a missing period reads as 10";
      f.urlBase = "https://novo.example/api/";
      f.IdCaixa = "4";
      f.chkTefCielo = true;
      c.act(d, f);
    });
    const std::string file = settingsText();
    tefsync::TfrmConfig& cfg = svc().frmConfig();
    if (c.saved) {
      for (const char* line : {"URLBASE=https://novo.example/api/", "IdCaixa=4", "chkTefCielo=SIM",
                               "chkTefSitef=NAO", "timerApi=10"})
        EXPECT_NE(file.find(line), std::string::npos) << line << "\n" << file;
      EXPECT_EQ(cfg.urlBase, "https://novo.example/api/");
      EXPECT_EQ(cfg.IdCaixaValue(), 4);
    } else {
      EXPECT_EQ(file, before) << "nothing written";
      EXPECT_EQ(cfg.urlBase, "https://cloud.example/api/") << "what was typed is gone";
      EXPECT_FALSE(cfg.chkTefCielo);
    }
    EXPECT_TRUE(view_->on(TimerSchedule::kApi));
    EXPECT_TRUE(dialogError_.empty()) << dialogError_;
  }
}

TEST_F(ShellLogic, SaveFailureKeepsWhatWasTyped) {
  open();
  throughSettings([&](ConfigDialogLogic& d, ConfigFields& f) {
    f.urlBase = "https://novo.example/api/";
    f.chkTefSitef = true;
    // A folder where the file should be: the file cannot be written.
    std::filesystem::remove(settingsFile());
    std::filesystem::create_directory(settingsFile());
    EXPECT_FALSE(d.salvar(f)) << "the dialog stays open";
    EXPECT_FALSE(dialogError_.empty()) << "the error is shown";
    EXPECT_EQ(svc().frmConfig().urlBase, "https://novo.example/api/");
    EXPECT_TRUE(svc().frmConfig().chkTefSitef);
    std::filesystem::remove(settingsFile());
    d.voltar();
  });
  EXPECT_TRUE(view_->on(TimerSchedule::kApi));
}

TEST_F(ShellLogic, ActivationAndRestoreRereadTheFile) {
  open();
  EXPECT_EQ(svc().frmConfig().urlBase, "https://cloud.example/api/");
  writeSettings("URLBASE=https://outro.example/api/\r\n");
  logic_->activated();
  EXPECT_EQ(svc().frmConfig().urlBase, "https://outro.example/api/");

  writeSettings("URLBASE=https://terceiro.example/api/\r\nchkTefSitef=SIM\r\n");
  logic_->restauraClick();
  EXPECT_TRUE(view_->shown);
  EXPECT_EQ(svc().frmConfig().urlBase, "https://terceiro.example/api/");
  EXPECT_TRUE(svc().frmConfig().chkTefSitef);
}

TEST_F(ShellLogic, ActivationWhileTheDialogIsOpenKeepsPollingOff) {
  open();
  logic_->restauraClick();
  throughSettings([&](ConfigDialogLogic& d, ConfigFields&) {
    logic_->activated();
    logic_->restauraClick();
    EXPECT_FALSE(svc().timerApi.Enabled);
    EXPECT_FALSE(view_->on(TimerSchedule::kApi));
    view_->onInput = [](const std::string&, const std::string&) -> std::optional<std::string> {
      ADD_FAILURE() << "a second gate opened over the first";
      return std::nullopt;
    };
    logic_->btnConfigClick();
    d.voltar();
  });
  EXPECT_TRUE(view_->on(TimerSchedule::kApi));
}

TEST_F(ShellLogic, PollErrorShowsTheBoxAfterTheTickAndLeavesPollingOff) {
  open();
  unexpected_ = true;
  std::vector<std::string> shown;
  bool heartbeat = false;
  view_->onError = [&](const std::string& message) {
    shown.push_back(message);
    EXPECT_FALSE(view_->on(TimerSchedule::kApi)) << "no poll while the box is open";
    logic_->restauraClick();
    logic_->activated();
    EXPECT_FALSE(svc().timerApi.Enabled) << "nor after the window is shown meanwhile";
    heartbeat = heartbeatAnswered();
  };
  clock_.advanceMs(1000);
  logic_->timerFired(TimerSchedule::kApi);
  EXPECT_TRUE(shown.empty()) << "the box waits until the tick has ended";
  ASSERT_TRUE(view_->showErrorsPosted);
  pump();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_TRUE(heartbeat);
  EXPECT_FALSE(view_->on(TimerSchedule::kApi)) << "the poll timer stays off after the box";
  EXPECT_TRUE(view_->on(TimerSchedule::kPing));
  EXPECT_NE(err_.str().find("tefsync: "), std::string::npos);
  logic_->activated();  // the next activation runs Habilita_inicial: polling resumes
  EXPECT_TRUE(view_->on(TimerSchedule::kApi));
}

// While each modal box is open, the guardian's test file is still answered.
TEST_F(ShellLogic, HeartbeatAnsweredWhileModal) {
  struct Case {
    const char* name;
    std::function<void(ShellLogic&, bool&)> run;
  } cases[] = {
      {"input box",
       [](ShellLogic& t, bool& answered) {
         t.view_->onInput = [&](const std::string&, const std::string&) {
           answered = t.heartbeatAnswered();
           return std::optional<std::string>();
         };
         t.logic_->btnConfigClick();
       }},
      {"settings dialog",
       [](ShellLogic& t, bool& answered) {
         t.throughSettings([&](ConfigDialogLogic& d, ConfigFields&) {
           answered = t.heartbeatAnswered();
           d.voltar();
         });
       }},
      {"error box",
       [](ShellLogic& t, bool& answered) {
         t.view_->onError = [&](const std::string& m) {
           EXPECT_EQ(m, "falha");
           answered = t.heartbeatAnswered();
         };
         t.logic_->showError("falha");
         t.pump();
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    open();
    bool answered = false;
    c.run(*this, answered);
    EXPECT_TRUE(answered);
  }
}

TEST_F(ShellLogic, TimersRunOneIntervalAfterEachTickAndStaleTicksAreIgnored) {
  open();
  const int before = view_->starts[TimerSchedule::kPing];
  logic_->timerFired(TimerSchedule::kPing);
  EXPECT_EQ(view_->starts[TimerSchedule::kPing], before + 1) << "restarted after the tick";
  EXPECT_EQ(view_->running[TimerSchedule::kPing], 10000);

  // A tick message already queued when the gate switched polling off must not poll.
  view_->onInput = [&](const std::string&, const std::string&) {
    out_.str("");
    clock_.advanceMs(60000);
    logic_->timerFired(TimerSchedule::kApi);
    EXPECT_EQ(out_.str().find("Get status"), std::string::npos) << out_.str();
    return std::optional<std::string>();
  };
  logic_->btnConfigClick();
  EXPECT_TRUE(view_->on(TimerSchedule::kApi));
}

TEST_F(ShellLogic, EndCommands) {
  struct Case {
    const char* name;
    std::function<void(MainWindowLogic&)> act;
    bool ends;
  } cases[] = {
      {"btnClose", [](MainWindowLogic& l) { l.btnCloseClick(); }, true},
      {"Sair do sistema", [](MainWindowLogic& l) { l.sairClick(); }, true},
      {"system shutting down", [](MainWindowLogic& l) { l.endSession(); }, true},
      {"end asked from outside",
       [](MainWindowLogic& l) {
         l.stopRequested = [] { return true; };
         EXPECT_TRUE(l.checkEndRequest());
       },
       true},
      {"nothing asked",
       [](MainWindowLogic& l) {
         l.stopRequested = [] { return false; };
         EXPECT_FALSE(l.checkEndRequest());
       },
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    open();
    c.act(*logic_);
    EXPECT_EQ(svc().endRequested, c.ends);
    EXPECT_EQ(view_->quitAsked, c.ends);
  }
}

TEST_F(ShellLogic, EventLogReachesStandardOutput) {
  open();
  out_.str("");
  svc().addList("Depois", "linha\r\nquebrada");
  EXPECT_EQ(out_.str(), "05/03/2024 10:20:30 | Depois | linha\\r\\nquebrada\n");

  // Every row goes out, also across the log emptying itself at 1001 rows.
  svc().tblList.clear();
  out_.str("");
  for (int i = 1; i <= 1001; ++i) svc().addList("Linha " + std::to_string(i), "msg");
  svc().addList("Depois", "");
  std::istringstream lines(out_.str());
  std::string line, last;
  int count = 0;
  while (std::getline(lines, line)) {
    ++count;
    last = line;
  }
  EXPECT_EQ(count, 1002);
  EXPECT_EQ(last, "05/03/2024 10:20:30 | Depois | ");
}

// The grid's cells, as both windows show them.
TEST(LogCells, DateAndTimeTwoDigitsEach) {
  const tefsync::LogRow row{"Get status", plat::DateTime{2024, 3, 5, 9, 7, 4, 0}, "Ok  200"};
  const char* const cells[] = {"Get status", "05/03/2024", "09:07:04", "Ok  200"};
  for (int c = 0; c < tefsync::kLogColumnCount; ++c) EXPECT_EQ(tefsync::logCell(row, c), cells[c]);
  EXPECT_EQ(tefsync::logCell(row, tefsync::kLogColumnCount), "");
  EXPECT_EQ(tefsync::logCell(row, -1), "");
}

// The windows show the service's state: after each command and tick, and as each log row
// comes during a long one (a sale holds the event loop).
TEST_F(ShellLogic, ViewShowsTheStateAfterEachCommandAndEachRow) {
  open("QUADRIX");
  bool pageShown = false;
  view_->onRefresh = [&] { pageShown = svc().pageVisible; };
  logic_->btnguiaTesteClick();
  EXPECT_TRUE(pageShown) << "the test guide opens on the test computer";
  logic_->btnguiaTesteClick();
  EXPECT_FALSE(pageShown);

  int before = view_->refreshes;
  svc().addList("Linha", "durante a venda");
  EXPECT_GT(view_->refreshes, before);

  before = view_->refreshes;
  clock_.advanceMs(10000);
  logic_->timerFired(TimerSchedule::kPing);
  EXPECT_GT(view_->refreshes, before);
}

TEST_F(ShellLogic, AdmSitef) {
  struct Case {
    const char* sitef;
    bool runs;
  } cases[] = {{"SIM", true}, {"NAO", false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sitef);
    writeSettings(std::string("chkTefSitef=") + c.sitef + "\r\n");
    // The manager's exchange folders, as its installation leaves them.
    std::filesystem::create_directories(drive_.at("Client/REQ"));
    std::filesystem::create_directories(drive_.at("Client/RESP"));
    open();
    out_.str("");
    logic_->SpeedButton1Click();
    pump();  // an error box would fail the test here
    EXPECT_EQ(out_.str().find("| ADm - Sitef |") != std::string::npos, c.runs) << out_.str();
    EXPECT_TRUE(view_->on(TimerSchedule::kApi));
  }
}

// Something unexpected inside the access-code gate reaches the error box as every other
// error does: without the token, with control characters shown, and the poll comes back.
TEST_F(ShellLogic, FaultInsideTheGateIsShownSafely) {
  const std::string token = "tok-segredo-0123456789";
  writeSettings(
      "URLBASE=https://cloud.example/api/\r\nidvelantra=9\r\nIdCaixa=0\r\n"
      "TOKEN_VELANTRA=" +
      token + "\r\n");
  open();
  view_->onInput = [&](const std::string&, const std::string&) -> std::optional<std::string> {
    throw std::runtime_error("falha\nlinha " + token);
  };
  std::vector<std::string> shown;
  view_->onError = [&](const std::string& m) { shown.push_back(m); };
  logic_->btnConfigClick();
  EXPECT_TRUE(shown.empty()) << "the box waits until the command has ended";
  pump();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_NE(shown[0].find("falha\\nlinha"), std::string::npos) << shown[0];
  EXPECT_EQ(shown[0].find(token), std::string::npos) << shown[0];
  EXPECT_EQ(err_.str().find(token), std::string::npos) << err_.str();
  EXPECT_TRUE(view_->on(TimerSchedule::kApi));
  EXPECT_FALSE(logic_->modalOpen()) << "the gate opens again";
}

}  // namespace

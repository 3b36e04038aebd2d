// The tefsync side of the heartbeat, the poll schedule and the headless runner.
#include <algorithm>
#include <sstream>

#include "service_fixture.h"
#include "tefsync/core/HeadlessRunner.h"

namespace {

class Heartbeat : public ServiceTest {
 protected:
  void leaveTest() { write(pingFile("test-ping.txt"), "teste de sincronizador... \r\n"); }
  bool answered() const { return fs::exists(pingFile("resp-ping.txt")); }
  void clearAnswer() { fs::remove(pingFile("resp-ping.txt")); }
};

TEST_F(Heartbeat, TestLeftBeforeStartIsAnsweredAtTheFirstCheck) {
  leaveTest();
  start();
  EXPECT_FALSE(answered());
  svc->timerPingTimer();
  EXPECT_TRUE(answered());
  EXPECT_FALSE(fs::exists(pingFile("test-ping.txt")));
  EXPECT_EQ(read(pingFile("resp-ping.txt")), "");  // no status answer yet
  EXPECT_EQ(log(true), (Lines{{"Resp-Ping.txt", ""}}));
}

TEST_F(Heartbeat, NoTestFileWritesNothing) {
  start();
  svc->timerPingTimer();
  EXPECT_FALSE(answered());
  EXPECT_TRUE(svc->tblList.empty());
}

TEST_F(Heartbeat, AnswerHoldsTheLastStatusAnswerInWindows1252) {
  start();
  mock.addRequest({{"id", 5}, {"empresa_id", 1}, {"obs", "Cartão"}});
  svc->get_Status();
  leaveTest();
  svc->timerPingTimer();
  const std::string T = svc->mmoResult.substr(0, svc->mmoResult.size() - 2);
  EXPECT_EQ(svc->mmoResult, T + "\r\n");
  std::string expected = T;
  expected.replace(expected.find("Cartão"), 7, "Cart\xe3o");
  EXPECT_EQ(read(pingFile("resp-ping.txt")), expected + "\r\n");
}

TEST_F(Heartbeat, ChecksComeAtLeastSixteenSecondsApart) {
  start();
  svc->timerPingTimer();  // the first check, at once
  struct Step {
    int advanceS;
    bool answered;
  } steps[] = {{10, false}, {5, false}, {1, true}, {15, false}, {1, true}};
  for (const Step& s : steps) {
    clearAnswer();
    leaveTest();
    clock.advanceMs(s.advanceS * 1000);
    svc->Testar_Ping();
    EXPECT_EQ(answered(), s.answered) << s.advanceS;
  }
}

TEST_F(Heartbeat, AnsweredDuringTheSaleAndTheDecisionWait) {
  startManager("CRT approve delay=60000");
  start();
  const int64_t id = addRequest(57, {{"CRT", "25,90"}});
  mock.setDecision(id, 7, 8);  // 45 s of decision wait
  svc->Testar_Ping();          // the check right before the sale is not due then
  int answers = 0;
  watchers.push_back([&] {
    if (answered()) {
      ++answers;
      clearAnswer();
    }
    if (!fs::exists(pingFile("test-ping.txt"))) leaveTest();
  });
  poll();
  EXPECT_EQ(cloudStatus(id), 8);
  // 60 s in the manager and 45 s of decision wait, one answer at least every 16 s or so.
  EXPECT_GE(answers, 5);
  EXPECT_TRUE(errors.empty());
}

TEST_F(Heartbeat, AnswerThatCannotBeWrittenDoesNotEndTheSale) {
  startManager();
  start();
  fs::create_directories(pingFile("resp-ping.txt"));  // a folder where the file goes
  leaveTest();
  const int64_t id = addRequest(57, {{"CRT", "25,90"}});
  mock.setDecision(id, 7);
  poll();
  EXPECT_EQ(cloudStatus(id), 8);
  EXPECT_TRUE(errors.empty());
  bool logged = false;
  for (const auto& [op, msg] : log(true)) logged |= op == "Resp-Ping.txt" && !msg.empty();
  EXPECT_TRUE(logged);
}

TEST_F(Heartbeat, AnsweredWhileTheErrorBoxIsOpen) {
  startManager();
  start();
  addRequest(57, {{"CRT", "1.234,56"}});
  bool answeredInBox = false;
  errorBox = [&](const std::string&) {
    // A window shell's box runs a nested event loop; the heartbeat timer ticks in it.
    leaveTest();
    clock.advanceMs(20000);
    svc->timerPingTimer();
    answeredInBox = answered();
  };
  poll();
  EXPECT_TRUE(answeredInBox);
}

// Standard output of the runner; notes the monotonic time of each heartbeat answer's row as
// the runner ends the line.
class TimedOut : public std::stringbuf {
 public:
  TimedOut(plat::Clock& clock, std::vector<int64_t>& times) : clock_(clock), times_(times) {}
  void reset() {
    str("");
    seen_ = 0;
  }

 protected:
  int sync() override {
    const std::string text = str();
    for (size_t nl; (nl = text.find('\n', seen_)) != std::string::npos; seen_ = nl + 1) {
      if (text.substr(seen_, nl - seen_).find("| Resp-Ping.txt |") != std::string::npos)
        times_.push_back(clock_.monotonicMs());
    }
    return 0;
  }

 private:
  plat::Clock& clock_;
  std::vector<int64_t>& times_;
  size_t seen_ = 0;
};

class Runner : public Heartbeat {
 protected:
  void startRunner(Settings s = Settings()) {
    mock.start();
    writeSettings(s);
    tefsync::TfrmPrincipal::Environment env;
    env.exeDir = exeDir();
    env.computerName = computerName;
    env.makeHttp = [this](const std::string& ca) -> std::unique_ptr<plat::HttpClient> {
      return std::make_unique<TimedClient>(plat::makeHttpClient(ca), sent);
    };
    runner = std::make_unique<tefsync::HeadlessRunner>(env, out, err);
    runner->stopRequested = [this] { return stopAtMs >= 0 && clock.monotonicMs() >= stopAtMs; };
    runner->reloadRequested = [this] { return std::exchange(reload, false); };
    runner->svc().FormCreate();
  }
  // Runs the runner for ms of virtual time.
  void runFor(int64_t ms) {
    stopAtMs = clock.monotonicMs() + ms;
    runner->run();
    stopAtMs = -1;
  }
  std::vector<std::string> outLines() const {
    std::vector<std::string> lines;
    std::istringstream in(outBuf.str());
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    return lines;
  }

  // Plays the guardian's part: a test file is always waiting.
  void keepTesting() {
    watchers.push_back([this] {
      if (answered()) clearAnswer();
      if (!fs::exists(pingFile("test-ping.txt"))) leaveTest();
    });
  }
  static long lineCount(const std::string& text) {
    return std::count(text.begin(), text.end(), '\n');
  }
  static std::vector<int64_t> gaps(const std::vector<int64_t>& times) {
    std::vector<int64_t> out;
    for (size_t i = 1; i < times.size(); ++i) out.push_back(times[i] - times[i - 1]);
    return out;
  }

  std::vector<int64_t> answerTimes;
  TimedOut outBuf{clock, answerTimes};
  std::ostream out{&outBuf};
  std::ostringstream err;
  std::unique_ptr<tefsync::HeadlessRunner> runner;
  int64_t stopAtMs = -1;
  bool reload = false;
};

TEST_F(Runner, PollsEveryPeriodPlusOneSecondAndChecksTheHeartbeat) {
  startRunner();
  const int64_t t0 = clock.monotonicMs();
  leaveTest();
  runFor(46500);
  std::vector<int64_t> polls;
  for (int64_t at : sentAt("/api")) polls.push_back(at - t0);
  EXPECT_EQ(polls, (std::vector<int64_t>{1000, 12000, 23000, 34000, 45000}));
  EXPECT_FALSE(fs::exists(pingFile("test-ping.txt")));
  EXPECT_TRUE(fs::exists(pingFile("resp-ping.txt")));
  EXPECT_EQ(outLines(), (std::vector<std::string>{"07/03/2024 09:05:14 | Resp-Ping.txt | "}));
}

// The computer's clock set back or forward (or passing midnight) moves no schedule: polls
// and heartbeat checks run on the monotonic clock, at their periods, with no pause and no
// burst.
struct Jump {
  const char* name;
  plat::DateTime start;
  int64_t shiftMs;
};
const Jump kJumps[] = {
    {"back a day", {2024, 3, 7, 9, 5, 4, 0}, -86400000},
    {"forward a day", {2024, 3, 7, 9, 5, 4, 0}, 86400000},
    {"back an hour", {2024, 3, 7, 9, 5, 4, 0}, -3600000},
    {"across midnight", {2024, 3, 7, 23, 59, 40, 0}, 0},
};

TEST_F(Runner, ClockJumpWhileIdleKeepsPollsAndHeartbeatAtTheirPeriods) {
  keepTesting();
  for (const Jump& j : kJumps) {
    clock.set(j.start);
    sent.clear();
    answerTimes.clear();
    startRunner();
    runFor(30000);
    const int64_t monoBefore = clock.monotonicMs();
    const int64_t wallBefore = clock.wallSeconds();
    clock.shiftWallMs(j.shiftMs);
    EXPECT_EQ(clock.monotonicMs(), monoBefore);
    EXPECT_EQ(clock.wallSeconds() - wallBefore, j.shiftMs / 1000);
    runFor(60000);
    const std::vector<int64_t> polls = gaps(sentAt("/api"));
    EXPECT_GE(polls.size(), 7u) << j.name;
    for (int64_t g : polls) EXPECT_EQ(g, 11000) << j.name;
    const std::vector<int64_t> answers = gaps(answerTimes);
    EXPECT_GE(answers.size(), 3u) << j.name;
    for (int64_t g : answers) EXPECT_EQ(g, 20000) << j.name;
  }
}

TEST_F(Runner, ClockJumpInTheDecisionWaitKeepsItsPaceAndPollingAfterIt) {
  keepTesting();
  startManager();
  int id = 57;
  for (const Jump& j : kJumps) {
    clock.set(j.start);
    sent.clear();
    answerTimes.clear();
    startRunner();
    const int64_t request = addRequest(id++, {{"CRT", "25,90"}});
    mock.setDecision(request, 7, 8);  // nine decision queries, about 45 s
    bool jumped = false;
    watchers.push_back([&] {
      if (!jumped && sentAt("/verifica").size() == 2) {
        clock.shiftWallMs(j.shiftMs);
        jumped = true;
      }
    });
    runFor(100000);
    watchers.pop_back();
    EXPECT_TRUE(jumped) << j.name;
    EXPECT_EQ(cloudStatus(request), 8) << j.name;
    for (int64_t g : gaps(sentAt("/verifica"))) EXPECT_EQ(g, 5000) << j.name;
    const std::vector<int64_t> answers = gaps(answerTimes);
    EXPECT_GE(answers.size(), 4u) << j.name;
    // At least 16 s apart, and at most one heartbeat tick (10 s) later than that.
    for (int64_t g : answers) {
      EXPECT_GE(g, 16000) << j.name;
      EXPECT_LE(g, 26000) << j.name;
    }
    // Polling goes on a period after the request ended.
    const int64_t ended = sentAt("/status").back();
    std::vector<int64_t> after;
    for (int64_t at : sentAt("/api")) {
      if (at > ended) after.push_back(at);
    }
    ASSERT_GE(after.size(), 2u) << j.name;
    EXPECT_LE(after[0] - ended, 12000) << j.name;
    for (int64_t g : gaps(after)) EXPECT_EQ(g, 11000) << j.name;
  }
}

TEST_F(Runner, ErrorGoesToLogAndStderrAndPollingResumes) {
  startManager();
  startRunner();
  const int64_t t0 = clock.monotonicMs();
  addRequest(57, {{"CRT", "1.234,56"}});
  runFor(13500);
  auto lines = outLines();
  ASSERT_GE(lines.size(), 6u);
  EXPECT_EQ(lines[5].substr(22), "Erro | '1,234,56' is not a valid floating point value");
  EXPECT_EQ(err.str(), "tefsync: '1,234,56' is not a valid floating point value\n");
  std::vector<int64_t> polls;
  for (int64_t at : sentAt("/api")) polls.push_back((at - t0) / 1000);
  // The cycle took its manager check's time; the next poll comes a period later.
  ASSERT_EQ(polls.size(), 2u);
  EXPECT_GT(polls[1], polls[0] + 10);
  EXPECT_EQ(outBuf.str().find(kToken), std::string::npos);
}

TEST_F(Runner, SettingsErrorStopsPollingWithARowEachPeriodAndOneBoxUntilMended) {
  struct Case {
    const char* idvelantra;
    const char* idcaixa;
    const char* row;  // the log row's message
  } cases[] = {
      {"9", "2 ; caixa 2", "IdCaixa=2 ; caixa 2: Id Caixa deve ser vazio ou um numero inteiro"},
      {"9", "2.0", "IdCaixa=2.0: Id Caixa deve ser vazio ou um numero inteiro"},
      {"9", "99999999999", "IdCaixa=99999999999: Id Caixa deve ser vazio ou um numero inteiro"},
      {"nove", "0", "idvelantra=nove: Id Velantra deve ser vazio ou um numero inteiro"},
  };
  for (const Case& c : cases) {
    Settings bad;
    bad.idvelantra = c.idvelantra;
    bad.idcaixa = c.idcaixa;
    sent.clear();
    outBuf.reset();
    err.str("");
    startRunner(bad);
    addRequest(57, {{"CRT", "25,90"}}, 2);  // a request of another register
    runFor(34500);
    EXPECT_TRUE(sentAt("/api").empty()) << c.idcaixa;
    int rows = 0;
    for (const std::string& l : outLines()) {
      if (l.find(std::string("| Configuracao invalida | ") + c.row) != std::string::npos) ++rows;
    }
    EXPECT_EQ(rows, 4) << c.idcaixa;  // at 1, 12, 23 and 34 s
    // The box once (headless: standard error), not once per period.
    EXPECT_EQ(lineCount(err.str()), 1) << err.str();
    EXPECT_NE(err.str().find(c.row), std::string::npos) << err.str();

    // Mended in the file: the next period polls, with no further row or box.
    writeSettings(Settings());
    outBuf.reset();
    runFor(11000);
    EXPECT_EQ(sentAt("/api").size(), 1u) << c.idcaixa;
    EXPECT_EQ(outBuf.str().find("Configuracao invalida"), std::string::npos) << outBuf.str();
    EXPECT_EQ(lineCount(err.str()), 1) << err.str();
    mock.reset();
  }
}

TEST_F(Runner, TimerPeriodThatIsNotANumberCountsAsTenWithARow) {
  Settings s;
  s.timer = "1 minuto";
  startRunner(s);
  runFor(23500);
  EXPECT_EQ(gaps(sentAt("/api")), (std::vector<int64_t>{11000, 11000}));
  const std::vector<std::string> lines = outLines();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines[0].substr(20),
            "| Configuracao invalida | timerApi=1 minuto: Timer API deve ser um numero inteiro de "
            "0 a 2147483647; usado 10");
}

TEST_F(Runner, ReloadRunsHabilitaInicialAndStopEndsTheLoop) {
  startRunner();
  Settings s;
  s.url = "http://127.0.0.1:1/api";
  writeSettings(s);
  reload = true;
  runFor(1500);
  EXPECT_EQ(runner->svc().frmConfig().urlBase, "http://127.0.0.1:1/api");
  EXPECT_FALSE(reload);
  EXPECT_TRUE(mock.recorded().empty());  // the poll went to the new address
  runner->svc().btnCloseClick();
  EXPECT_FALSE(runner->step());
}

}  // namespace

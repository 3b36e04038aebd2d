// The tefsync side of the heartbeat, the poll schedule and the headless runner.
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

TEST_F(Heartbeat, GoesOnPastMidnight) {
  clock.set({2024, 3, 7, 23, 59, 55, 0});
  start();
  svc->Testar_Ping();
  EXPECT_EQ(svc->contaPing, clock.wallSeconds());
  clock.set({2024, 3, 8, 0, 0, 10, 0});
  leaveTest();
  svc->Testar_Ping();
  EXPECT_FALSE(answered());
  clock.set({2024, 3, 8, 0, 0, 11, 0});
  svc->Testar_Ping();
  EXPECT_TRUE(answered());
}

TEST_F(Heartbeat, PollsGoOnPastMidnight) {
  clock.set({2024, 3, 7, 23, 59, 55, 0});
  start();
  svc->timerApiTimer();  // uGetAPI 0: a poll at once, the next due at 00:00:05
  EXPECT_EQ(mock.recorded().size(), 1u);
  clock.set({2024, 3, 8, 0, 0, 5, 0});
  svc->timerApiTimer();
  EXPECT_EQ(mock.recorded().size(), 1u);
  clock.set({2024, 3, 8, 0, 0, 6, 0});
  svc->timerApiTimer();
  EXPECT_EQ(mock.recorded().size(), 2u);
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

class Runner : public Heartbeat {
 protected:
  void startRunner(Settings s = Settings()) {
    if (mock.port() == 0) mock.start();
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
    std::istringstream in(out.str());
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    return lines;
  }

  std::ostringstream out, err;
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
  EXPECT_EQ(out.str().find(kToken), std::string::npos);
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

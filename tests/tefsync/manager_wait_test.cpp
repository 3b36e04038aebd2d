// A manager that never answers: how long the heartbeat is answered during one wait on it,
// and an end asked for during such a wait.
#include <algorithm>

#include "platform/child.h"
#include "service_fixture.h"

namespace {

constexpr int64_t kMinute = 60 * 1000;
constexpr int64_t kEndAt = 3 * kMinute;
const char* const kEndedAt = "ended-at";

class ManagerWait : public ServiceTest {
 protected:
  // The guardian's side: a test file always waiting; the virtual times of the answers.
  void guardianWatches() {
    watchers.push_back([this] {
      if (fs::exists(pingFile("resp-ping.txt"))) {
        answersAt.push_back(clock.monotonicMs());
        fs::remove(pingFile("resp-ping.txt"));
      }
      if (!fs::exists(pingFile("test-ping.txt")))
        write(pingFile("test-ping.txt"), "teste de sincronizador... \r\n");
    });
  }
  // The longest time without an answer between from and to.
  int64_t longestSilence(int64_t from, int64_t to) const {
    int64_t last = from, longest = 0;
    for (int64_t at : answersAt) {
      if (at < from || at > to) continue;
      longest = std::max(longest, at - last);
      last = at;
    }
    return std::max(longest, to - last);
  }
  int refusals() const {
    int n = 0;
    for (const auto& [op, msg] : log(true))
      n += op == "Resp-Ping.txt" && msg.find("10 minutos") != std::string::npos;
    return n;
  }
  std::vector<int64_t> answersAt;
};

TEST_F(ManagerWait, HeartbeatAnsweredForTenMinutesOfOneWaitThenNot) {
  startManager("ADM approve delay=900000");  // answers 15 minutes after its acknowledgment
  start();
  svc->frmConfig().chkTefSitef = true;
  guardianWatches();
  const int64_t t0 = clock.monotonicMs();
  svc->SpeedButton1Click();
  const int64_t t1 = clock.monotonicMs();
  ASSERT_GE(t1 - t0, 15 * kMinute);
  ASSERT_FALSE(answersAt.empty());
  // Answered at its usual pace for ten minutes, then not at all until the manager answered.
  EXPECT_LE(longestSilence(t0, t0 + 10 * kMinute - 20000), 20000);
  // The last answer before the manager's (the recovery that finishes the command after it
  // makes waits of its own).
  int64_t lastAnswer = 0;
  for (int64_t a : answersAt)
    if (a - t0 < 15 * kMinute) lastAnswer = a - t0;
  EXPECT_GE(lastAnswer, 10 * kMinute - 20000);
  EXPECT_LE(lastAnswer, 10 * kMinute + 5000);
  EXPECT_EQ(refusals(), 1) << "one row says why";
  EXPECT_TRUE(errors.empty());

  // The wait is over: the next check answers again.
  write(pingFile("test-ping.txt"), "teste de sincronizador... \r\n");
  clock.advanceMs(20000);
  svc->timerPingTimer();
  EXPECT_TRUE(fs::exists(pingFile("resp-ping.txt")));
}

TEST_F(ManagerWait, EachWaitHasItsOwnTenMinutes) {
  // Two payments of six minutes each at the PIN pad: twelve minutes, answered throughout.
  startManager("CRT approve delay=360000\nCRT approve delay=360000");
  start();
  const int64_t id = addRequest(57, {{"CRT", "10,00"}, {"CRT", "5,00"}});
  mock.setDecision(id, 7);
  guardianWatches();
  const int64_t t0 = clock.monotonicMs();
  poll();
  EXPECT_EQ(cloudStatus(id), 8);
  EXPECT_GE(clock.monotonicMs() - t0, 12 * kMinute);
  EXPECT_LE(longestSilence(t0, clock.monotonicMs()), 20000);
  EXPECT_EQ(refusals(), 0);
}

// The program ends at once, so the sale runs in a second run of this test program (the
// child test below), asked to end three minutes into a wait on a manager that never answers.
TEST_F(ManagerWait, EndAskedDuringAWaitEndsTheProgramWithinThirtySeconds) {
  mock.start();
  const int status =
      plat::runSelf({"--gtest_filter=ManagerWait.ChildOfEndAskedDuringAWait"}, childEnv());
  ASSERT_EQ(status, 40) << "71: still waiting an hour later";
  const int64_t at = std::stoll(read(exeDir() + kEndedAt));
  EXPECT_GE(at, kEndAt);
  EXPECT_LE(at, kEndAt + 30000);
  // The sale reached the manager and stays there for the recovery; nothing more was
  // reported.
  EXPECT_EQ(cloudStatus(57), 3);
  ASSERT_EQ(journal().requests.size(), 2u);
  EXPECT_EQ(journal().requests[1].op, "CRT");
}

TEST_F(ManagerWait, ChildOfEndAskedDuringAWait) {
  if (!childRole()) GTEST_SKIP() << "runs only as the child of EndAskedDuringAWait...";
  mock.start();
  writeSettings({});
  addRequest(57, {{"CRT", "25,90"}});
  startManager("CRT ackonly");  // acknowledges the sale and never answers
  endAfterMs = kEndAt;
  exitNow = [&](int code) {
    write(exeDir() + kEndedAt, std::to_string(clock.monotonicMs()));
    plat::exitNow(40 + code);
  };
  clock.addSleepHook([&](int64_t) {
    if (clock.monotonicMs() > 60 * kMinute) plat::exitNow(71);  // still waiting
  });
  createService();
  poll();
}

}  // namespace

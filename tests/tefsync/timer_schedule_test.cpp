// The due times every shell takes from the service's two timers.
#include <gtest/gtest.h>

#include <functional>

#include "service_fixture.h"
#include "tefsync/core/TimerSchedule.h"

namespace {

using tefsync::TimerSchedule;

class Schedule : public ServiceTest {
 protected:
  bool usesCloud() const override { return false; }
};

TEST_F(Schedule, SwitchesAndTicksSetTheDueTimes) {
  start();  // FormCreate switched both on: poll every 1000 ms, heartbeat every 10000 ms
  TimerSchedule s(*svc);
  struct Step {
    const char* what;
    int64_t atMs;
    std::function<void(tefsync::TfrmPrincipal&, TimerSchedule&, int64_t)> act;
    int64_t apiDue, pingDue;
    bool apiRestarted, pingRestarted;
  } steps[] = {
      {"first sync arms both", 0, nullptr, 1000, 10000, true, true},
      {"nothing switched: nothing moves", 700, nullptr, 1000, 10000, false, false},
      {"a tick: one interval after it ended", 1300,
       [](auto&, TimerSchedule& sc, int64_t now) { sc.ticked(TimerSchedule::kApi, now); }, 2300,
       10000, false, false},
      {"off and on again starts over", 1500,
       [](tefsync::TfrmPrincipal& v, auto&, int64_t) {
         v.habilTimer("API", false);
         v.habilTimer("API", true);
       },
       2500, 10000, true, false},
      {"on while on does not", 1800,
       [](tefsync::TfrmPrincipal& v, auto&, int64_t) { v.habilTimer("API", true); }, 2500, 10000,
       false, false},
      {"a new interval starts over", 2000,
       [](tefsync::TfrmPrincipal& v, auto&, int64_t) { v.timerPing.setInterval(400); }, 2500, 2400,
       false, true},
      {"off: no due time", 2100,
       [](tefsync::TfrmPrincipal& v, auto&, int64_t) { v.habilTimer("API", false); }, -1, 2400,
       false, false},
      {"a tick that switched its timer off", 2450,
       [](tefsync::TfrmPrincipal& v, TimerSchedule& sc, int64_t now) {
         v.timerPing.setEnabled(false);
         sc.ticked(TimerSchedule::kPing, now);
       },
       -1, -1, false, false},
  };
  for (const Step& st : steps) {
    SCOPED_TRACE(st.what);
    if (st.act) st.act(*svc, s, st.atMs);
    const auto restarted = s.sync(st.atMs);
    EXPECT_EQ(s.dueMs(TimerSchedule::kApi), st.apiDue);
    EXPECT_EQ(s.dueMs(TimerSchedule::kPing), st.pingDue);
    EXPECT_EQ(restarted[TimerSchedule::kApi], st.apiRestarted);
    EXPECT_EQ(restarted[TimerSchedule::kPing], st.pingRestarted);
    const int64_t a = st.apiDue, p = st.pingDue;
    EXPECT_EQ(s.nextDueMs(), a < 0 ? p : (p < 0 ? a : std::min(a, p)));
  }
}

}  // namespace

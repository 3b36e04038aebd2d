#include "platform/clock.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

TEST(CivilDate, RoundTripsAcrossLeapYearsAndEras) {
  struct Case {
    int y, m, d;
    int64_t days;
  };
  const Case cases[] = {
      {1970, 1, 1, 0},    {2000, 2, 29, 11016},  {2024, 3, 7, 19789},
      {1969, 12, 31, -1}, {987, 6, 15, -358868}, {2100, 3, 1, 47541},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(plat::daysFromCivil(c.y, c.m, c.d), c.days) << c.y << "-" << c.m << "-" << c.d;
    const auto dt = plat::civilFromSeconds(c.days * 86400 + 3723);
    EXPECT_EQ(dt.year, c.y);
    EXPECT_EQ(dt.month, c.m);
    EXPECT_EQ(dt.day, c.d);
    EXPECT_EQ(dt.hour, 1);
    EXPECT_EQ(dt.minute, 2);
    EXPECT_EQ(dt.second, 3);
  }
}

TEST(CivilDate, NegativeSecondsBelongToThePreviousDay) {
  const auto dt = plat::civilFromSeconds(-1);
  EXPECT_EQ(dt.year, 1969);
  EXPECT_EQ(dt.month, 12);
  EXPECT_EQ(dt.day, 31);
  EXPECT_EQ(dt.hour, 23);
  EXPECT_EQ(dt.minute, 59);
  EXPECT_EQ(dt.second, 59);
}

TEST(VirtualClock, SleepAdvancesTimeAtOnceAndCrossesMidnight) {
  plat::VirtualClock vc({2024, 12, 31, 23, 59, 59, 500});
  const int64_t mono = vc.monotonicMs();
  vc.sleepMs(700);
  const auto now = vc.now();
  EXPECT_EQ(now.year, 2025);
  EXPECT_EQ(now.month, 1);
  EXPECT_EQ(now.day, 1);
  EXPECT_EQ(now.hour, 0);
  EXPECT_EQ(now.second, 0);
  EXPECT_EQ(now.millisecond, 200);
  EXPECT_EQ(vc.monotonicMs() - mono, 700);
  EXPECT_EQ(vc.totalSleptMs(), 700);
  EXPECT_EQ(vc.sleepCalls(), 1);
}

TEST(VirtualClock, HooksRunDuringSleepAndCanBeRemoved) {
  plat::VirtualClock vc;
  std::vector<int64_t> seen;
  std::vector<int> secondsSeen;
  const int id = vc.addSleepHook([&](int64_t ms) {
    seen.push_back(ms);
    secondsSeen.push_back(vc.now().second);
  });
  vc.sleepMs(1000);
  vc.sleepMs(-5);  // a negative pause is no pause
  vc.removeSleepHook(id);
  vc.sleepMs(1000);
  EXPECT_EQ(seen, (std::vector<int64_t>{1000, 0}));
  EXPECT_EQ(secondsSeen, (std::vector<int>{5, 5}));  // started at 09:05:04
  EXPECT_EQ(vc.sleepCalls(), 3);
}

TEST(VirtualClock, HookMayRemoveAnotherHookOrItself) {
  plat::VirtualClock vc;
  int first = 0, second = 0;
  int secondId = 0;
  const int firstId = vc.addSleepHook([&](int64_t) {
    ++first;
    vc.removeSleepHook(secondId);
  });
  secondId = vc.addSleepHook([&](int64_t) { ++second; });
  vc.sleepMs(1);
  vc.sleepMs(1);
  EXPECT_EQ(first, 2);
  EXPECT_EQ(second, 0);
  vc.removeSleepHook(firstId);
}

TEST(VirtualClock, AdvanceMovesTimeWithoutHooks) {
  plat::VirtualClock vc({2024, 3, 7, 9, 5, 4, 0});
  int calls = 0;
  vc.addSleepHook([&](int64_t) { ++calls; });
  vc.advanceMs(60000);
  EXPECT_EQ(vc.now().minute, 6);
  EXPECT_EQ(calls, 0);
  vc.set({2023, 1, 2, 3, 4, 5, 6});
  EXPECT_EQ(vc.wallSeconds(), plat::localSeconds({2023, 1, 2, 3, 4, 5, 0}));
}

TEST(ScopedClock, InstallsAndRestoresNested) {
  plat::Clock& system = plat::clock();
  {
    plat::VirtualClock a({2001, 1, 1, 0, 0, 0, 0});
    plat::ScopedClock sa(a);
    EXPECT_EQ(plat::clock().now().year, 2001);
    {
      plat::VirtualClock b({2002, 1, 1, 0, 0, 0, 0});
      plat::ScopedClock sb(b);
      EXPECT_EQ(plat::clock().now().year, 2002);
    }
    EXPECT_EQ(plat::clock().now().year, 2001);
  }
  EXPECT_EQ(&plat::clock(), &system);
}

TEST(SystemClock, GivesAPlausibleLocalTimeAndMonotonicTime) {
  plat::SystemClock sc;
  const auto now = sc.now();
  EXPECT_GE(now.year, 2024);
  EXPECT_GE(now.month, 1);
  EXPECT_LE(now.month, 12);
  EXPECT_LE(now.second, 59);
  const int64_t a = sc.monotonicMs();
  sc.sleepMs(0);  // returns at once
  EXPECT_GE(sc.monotonicMs(), a);
}

}  // namespace

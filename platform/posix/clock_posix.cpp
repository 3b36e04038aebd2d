#include <time.h>

#include <cerrno>

#include "platform/clock.h"

namespace plat {

DateTime SystemClock::now() {
  timespec ts{};
  ::clock_gettime(CLOCK_REALTIME, &ts);
  tm local{};
  ::localtime_r(&ts.tv_sec, &local);
  DateTime dt;
  dt.year = local.tm_year + 1900;
  dt.month = local.tm_mon + 1;
  dt.day = local.tm_mday;
  dt.hour = local.tm_hour;
  dt.minute = local.tm_min;
  dt.second = local.tm_sec > 59 ? 59 : local.tm_sec;  // a leap second stays in its minute
  dt.millisecond = static_cast<int>(ts.tv_nsec / 1000000);
  return dt;
}

int64_t SystemClock::monotonicMs() {
  timespec ts{};
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

void SystemClock::sleepMs(int64_t ms) {
  if (ms <= 0) return;
  timespec req{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
  timespec rem{};
  // A signal must not cut the pause short.
  while (::nanosleep(&req, &rem) == -1 && errno == EINTR) req = rem;
}

}  // namespace plat

#include <windows.h>

#include "platform/clock.h"

namespace plat {

DateTime SystemClock::now() {
  SYSTEMTIME st{};
  ::GetLocalTime(&st);
  DateTime dt;
  dt.year = st.wYear;
  dt.month = st.wMonth;
  dt.day = st.wDay;
  dt.hour = st.wHour;
  dt.minute = st.wMinute;
  dt.second = st.wSecond > 59 ? 59 : st.wSecond;
  dt.millisecond = st.wMilliseconds;
  return dt;
}

int64_t SystemClock::monotonicMs() {
  return static_cast<int64_t>(::GetTickCount64());
}

void SystemClock::sleepMs(int64_t ms) {
  // Sleep takes a 32-bit count; a long pause goes in pieces.
  while (ms > 0) {
    const int64_t step = ms > 86400000 ? 86400000 : ms;
    ::Sleep(static_cast<DWORD>(step));
    ms -= step;
  }
}

}  // namespace plat

#include "platform/clock.h"

#include <algorithm>

namespace plat {

int64_t daysFromCivil(int year, int month, int day) {
  // Howard Hinnant's algorithm; valid over the whole int range used here.
  const int64_t y = static_cast<int64_t>(year) - (month <= 2 ? 1 : 0);
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t mp = (month + 9) % 12;
  const int64_t doy = (153 * mp + 2) / 5 + day - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

DateTime civilFromSeconds(int64_t localSeconds, int millisecond) {
  int64_t days = localSeconds / 86400;
  int64_t secs = localSeconds % 86400;
  if (secs < 0) {
    secs += 86400;
    --days;
  }
  const int64_t z = days + 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  const int64_t d = doy - (153 * mp + 2) / 5 + 1;
  const int64_t m = mp < 10 ? mp + 3 : mp - 9;
  const int64_t y = yoe + era * 400 + (m <= 2 ? 1 : 0);
  DateTime dt;
  dt.year = static_cast<int>(y);
  dt.month = static_cast<int>(m);
  dt.day = static_cast<int>(d);
  dt.hour = static_cast<int>(secs / 3600);
  dt.minute = static_cast<int>(secs / 60 % 60);
  dt.second = static_cast<int>(secs % 60);
  dt.millisecond = millisecond;
  return dt;
}

int64_t localSeconds(const DateTime& dt) {
  return daysFromCivil(dt.year, dt.month, dt.day) * 86400 + dt.hour * 3600LL + dt.minute * 60LL +
         dt.second;
}

namespace {
int64_t toEpochMs(const DateTime& dt) {
  return localSeconds(dt) * 1000 + dt.millisecond;
}

int64_t floorDiv(int64_t a, int64_t b) {
  return a / b - ((a % b != 0 && (a < 0) != (b < 0)) ? 1 : 0);
}

Clock*& current() {
  static Clock* c = nullptr;
  return c;
}
}  // namespace

VirtualClock::VirtualClock(DateTime start) : epochMs_(toEpochMs(start)) {}

DateTime VirtualClock::now() {
  const int64_t secs = floorDiv(epochMs_, 1000);
  return civilFromSeconds(secs, static_cast<int>(epochMs_ - secs * 1000));
}

void VirtualClock::advanceMs(int64_t ms) {
  ms = std::max<int64_t>(ms, 0);
  epochMs_ += ms;
  monoMs_ += ms;
}

void VirtualClock::sleepMs(int64_t ms) {
  ms = std::max<int64_t>(ms, 0);
  advanceMs(ms);
  sleptMs_ += ms;
  ++sleepCalls_;
  // A copy: a hook may add or remove hooks while it runs.
  const auto hooks = hooks_;
  for (const auto& [id, hook] : hooks) {
    const bool stillRegistered = std::any_of(hooks_.begin(), hooks_.end(),
                                             [hid = id](const auto& h) { return h.first == hid; });
    if (stillRegistered) hook(ms);
  }
}

void VirtualClock::set(const DateTime& dt) {
  epochMs_ = toEpochMs(dt);
}

void VirtualClock::shiftWallMs(int64_t ms) {
  epochMs_ += ms;
}

int VirtualClock::addSleepHook(SleepHook hook) {
  const int id = nextHookId_++;
  hooks_.emplace_back(id, std::move(hook));
  return id;
}

void VirtualClock::removeSleepHook(int id) {
  std::erase_if(hooks_, [id](const auto& h) { return h.first == id; });
}

Clock& clock() {
  static SystemClock systemClock;
  Clock* c = current();
  return c ? *c : systemClock;
}

ScopedClock::ScopedClock(Clock& c) : previous_(current()) {
  current() = &c;
}

ScopedClock::~ScopedClock() {
  current() = previous_;
}

}  // namespace plat

// The one clock of the system: local date-time, a monotonic time and every pause.
// Production code reads plat::clock(); unit tests install a VirtualClock.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace plat {

struct DateTime {
  int year = 2000;
  int month = 1;  // 1-12
  int day = 1;    // 1-31
  int hour = 0;
  int minute = 0;
  int second = 0;
  int millisecond = 0;
};

// Days since 1970-01-01 of a civil date (proleptic Gregorian).
int64_t daysFromCivil(int year, int month, int day);
DateTime civilFromSeconds(int64_t localSeconds, int millisecond = 0);

// Local date-time as one second count that does not wrap at midnight.
int64_t localSeconds(const DateTime& dt);

class Clock {
 public:
  virtual ~Clock() = default;
  virtual DateTime now() = 0;
  virtual int64_t monotonicMs() = 0;
  // Every wait of the system goes through here (Delay, the engine's waits, the cycle's waits).
  virtual void sleepMs(int64_t ms) = 0;

  // Seconds of the local time that never wrap: schedules compare these.
  int64_t wallSeconds() { return localSeconds(now()); }
};

class SystemClock final : public Clock {
 public:
  DateTime now() override;
  int64_t monotonicMs() override;
  void sleepMs(int64_t ms) override;
};

// Virtual time: a pause advances time at once and then runs the registered callbacks,
// so a simulated peer can act "during" the wait.
class VirtualClock final : public Clock {
 public:
  using SleepHook = std::function<void(int64_t sleptMs)>;

  explicit VirtualClock(DateTime start = {2024, 3, 7, 9, 5, 4, 0});
  DateTime now() override;
  int64_t monotonicMs() override { return monoMs_; }
  void sleepMs(int64_t ms) override;

  void advanceMs(int64_t ms);        // moves time without running hooks
  void set(const DateTime& dt);      // the wall clock only, as setting the computer's clock does
  void shiftWallMs(int64_t ms);      // moves the wall clock only, back or forward
  int addSleepHook(SleepHook hook);  // returns an id for removeSleepHook
  void removeSleepHook(int id);
  int64_t totalSleptMs() const { return sleptMs_; }
  int64_t sleepCalls() const { return sleepCalls_; }

 private:
  int64_t epochMs_;  // local time in ms since 1970
  int64_t monoMs_ = 0;
  int64_t sleptMs_ = 0;
  int64_t sleepCalls_ = 0;
  int nextHookId_ = 1;
  std::vector<std::pair<int, SleepHook>> hooks_;
};

// The clock in force; the system clock unless a test installed another.
Clock& clock();

// Installs a clock for the lifetime of this object (tests).
class ScopedClock {
 public:
  explicit ScopedClock(Clock& c);
  ~ScopedClock();
  ScopedClock(const ScopedClock&) = delete;
  ScopedClock& operator=(const ScopedClock&) = delete;

 private:
  Clock* previous_;
};

}  // namespace plat

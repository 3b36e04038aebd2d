// When the service's two timers are next due, for every shell: a window shell restarts its
// own timers from it, the headless runner sleeps until the earliest due time.
#pragma once

#include <array>
#include <cstdint>

#include "tefsync/core/TfrmPrincipal.h"

namespace tefsync {

class TimerSchedule {
 public:
  enum Which { kApi = 0, kPing = 1 };
  static constexpr int kCount = 2;

  explicit TimerSchedule(const TfrmPrincipal& svc);

  // Takes in what the service switched since the last call, at nowMs (monotonic): a timer
  // switched from off to on, or given a new interval, starts its interval over; one
  // switched off has no due time. True for each timer whose interval started over.
  std::array<bool, kCount> sync(int64_t nowMs);
  // After a tick of `which` ended at nowMs: the next one comes one interval later.
  void ticked(Which which, int64_t nowMs);

  // Due time in monotonic ms; -1 while the timer is off.
  int64_t dueMs(Which which) const { return slots_[which].dueMs; }
  // The earliest due time of both; -1 when both are off.
  int64_t nextDueMs() const;
  // The timer's state in the service.
  const TimerState& state(Which which) const;

 private:
  struct Slot {
    uint64_t seenArmed = 0;
    int64_t dueMs = -1;
  };
  const TfrmPrincipal& svc_;
  std::array<Slot, kCount> slots_{};
};

}  // namespace tefsync

#include "tefsync/core/TimerSchedule.h"

namespace tefsync {

TimerSchedule::TimerSchedule(const TfrmPrincipal& svc) : svc_(svc) {}

const TimerState& TimerSchedule::state(Which which) const {
  return which == kApi ? svc_.timerApi : svc_.timerPing;
}

std::array<bool, TimerSchedule::kCount> TimerSchedule::sync(int64_t nowMs) {
  std::array<bool, kCount> restarted{};
  for (int i = 0; i < kCount; ++i) {
    const TimerState& t = state(static_cast<Which>(i));
    Slot& s = slots_[static_cast<size_t>(i)];
    if (!t.Enabled) {
      s.dueMs = -1;
    } else if (s.dueMs < 0 || s.seenArmed != t.armed) {
      s.dueMs = nowMs + t.Interval;
      restarted[static_cast<size_t>(i)] = true;
    }
    s.seenArmed = t.armed;
  }
  return restarted;
}

void TimerSchedule::ticked(Which which, int64_t nowMs) {
  const TimerState& t = state(which);
  Slot& s = slots_[which];
  s.dueMs = t.Enabled ? nowMs + t.Interval : -1;
  s.seenArmed = t.armed;
}

int64_t TimerSchedule::nextDueMs() const {
  int64_t next = -1;
  for (const Slot& s : slots_) {
    if (s.dueMs >= 0 && (next < 0 || s.dueMs < next)) next = s.dueMs;
  }
  return next;
}

}  // namespace tefsync

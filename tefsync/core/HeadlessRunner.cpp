#include "tefsync/core/HeadlessRunner.h"

#include <algorithm>

#include "platform/clock.h"

namespace tefsync {

HeadlessRunner::HeadlessRunner(TfrmPrincipal& svc, std::ostream& out, std::ostream& err)
    : svc_(svc), out_(out), err_(err) {
  svc_.onAddList = [this](const LogRow& row) { out_ << formatLogLine(row) << std::endl; };
  svc_.onErrorBox = [this](const std::string& message) {
    svc_.addList("Erro", message);
    err_ << "tefsync: " << message << std::endl;
    // With no operator to dismiss a box, polling resumes at the next period.
    svc_.habilTimer("API", true);
  };
  svc_.endPending = [this] { return stopRequested && stopRequested(); };
}

bool HeadlessRunner::ending() const {
  return svc_.endRequested || (stopRequested && stopRequested());
}

void HeadlessRunner::arm(const TimerState& t, Armed& a, int64_t now) {
  if (!t.Enabled) {
    a.dueMs = -1;
  } else if (a.dueMs < 0 || a.seen != t.armed) {
    a.dueMs = now + t.Interval;
  }
  a.seen = t.armed;
}

bool HeadlessRunner::step(int64_t maxPauseMs) {
  if (ending()) return false;
  if (reloadRequested && reloadRequested()) svc_.Habilita_inicial();
  plat::Clock& clock = plat::clock();
  int64_t now = clock.monotonicMs();
  arm(svc_.timerApi, api_, now);
  arm(svc_.timerPing, ping_, now);

  struct Entry {
    Armed& armed;
    const TimerState& timer;
    void (TfrmPrincipal::*tick)();
  } entries[] = {{api_, svc_.timerApi, &TfrmPrincipal::timerApiTimer},
                 {ping_, svc_.timerPing, &TfrmPrincipal::timerPingTimer}};
  bool ran = false;
  for (Entry& e : entries) {
    if (e.armed.dueMs < 0 || e.armed.dueMs > now) continue;
    (svc_.*e.tick)();
    ran = true;
    now = clock.monotonicMs();
    // The next tick comes one interval after this one ended.
    e.armed.dueMs = e.timer.Enabled ? now + e.timer.Interval : -1;
    e.armed.seen = e.timer.armed;
    if (ending()) return false;
  }
  if (ran) return true;

  int64_t next = -1;
  for (const Entry& e : entries) {
    if (e.armed.dueMs >= 0 && (next < 0 || e.armed.dueMs < next)) next = e.armed.dueMs;
  }
  int64_t pause = next < 0 ? maxPauseMs : std::min(maxPauseMs, next - now);
  if (pause > 0) clock.sleepMs(pause);
  return !ending();
}

int HeadlessRunner::run() {
  while (step()) {
  }
  return 0;
}

}  // namespace tefsync

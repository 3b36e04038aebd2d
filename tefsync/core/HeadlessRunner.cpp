#include "tefsync/core/HeadlessRunner.h"

#include <algorithm>

#include "platform/clock.h"

namespace tefsync {

HeadlessRunner::HeadlessRunner(TfrmPrincipal::Environment env, std::ostream& out, std::ostream& err)
    : out_(out), err_(err), svc_(*this, std::move(env)), schedule_(svc_) {}

void HeadlessRunner::writeLine(std::ostream& os, const std::string& line) {
  try {
    os << line << std::endl;
  } catch (...) {
    // A stream set to throw: the line is lost, the program goes on.
  }
  os.clear();
}

void HeadlessRunner::logRowAdded(const LogRow& row) {
  writeLine(out_, formatLogLine(row));
}

void HeadlessRunner::showError(const std::string& message) {
  svc_.addList("Erro", message);
  writeLine(err_, "tefsync: " + message);
  // With no operator to dismiss a box, polling resumes at the next period.
  svc_.habilTimer("API", true);
}

bool HeadlessRunner::ending() {
  return svc_.endRequested || endPending();
}

bool HeadlessRunner::step(int64_t maxPauseMs) {
  if (ending()) return false;
  if (reloadRequested && reloadRequested()) svc_.Habilita_inicial();
  plat::Clock& clock = plat::clock();
  int64_t now = clock.monotonicMs();
  schedule_.sync(now);

  struct Entry {
    TimerSchedule::Which which;
    void (TfrmPrincipal::*tick)();
  } const entries[] = {{TimerSchedule::kApi, &TfrmPrincipal::timerApiTimer},
                       {TimerSchedule::kPing, &TfrmPrincipal::timerPingTimer}};
  bool ran = false;
  for (const Entry& e : entries) {
    const int64_t due = schedule_.dueMs(e.which);
    if (due < 0 || due > now) continue;
    (svc_.*e.tick)();
    ran = true;
    now = clock.monotonicMs();
    schedule_.ticked(e.which, now);
    if (ending()) return false;
  }
  if (ran) return true;

  const int64_t next = schedule_.nextDueMs();
  const int64_t pause = next < 0 ? maxPauseMs : std::min(maxPauseMs, next - now);
  if (pause > 0) clock.sleepMs(pause);
  return !ending();
}

int HeadlessRunner::run() {
  while (step()) {
  }
  return 0;
}

}  // namespace tefsync

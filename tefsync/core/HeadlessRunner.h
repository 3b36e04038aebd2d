// Runs the service without a window: drives its two timers with the clock, writes every
// event-log row to standard output and every error to the log and standard error.
#pragma once

#include <cstdint>
#include <functional>
#include <ostream>

#include "tefsync/core/TfrmPrincipal.h"
#include "tefsync/core/TimerSchedule.h"

namespace tefsync {

class HeadlessRunner final : public Shell {
 public:
  // Creates the service; call svc().FormCreate() once the questions below are set.
  HeadlessRunner(TfrmPrincipal::Environment env, std::ostream& out, std::ostream& err);

  TfrmPrincipal& svc() { return svc_; }

  // Asked between ticks and during the long waits inside one: end the program.
  std::function<bool()> stopRequested;
  // Asked between ticks: run Habilita_inicial, as activating the window does.
  std::function<bool()> reloadRequested;

  // Runs until the service or stopRequested asks to end. Returns the exit code.
  int run();
  // One pass: runs every due tick, else pauses until the next one (at most maxPauseMs).
  // False once the program is to end.
  bool step(int64_t maxPauseMs = 200);

  // Shell
  void logRowAdded(const LogRow& row) override;
  void stateChanged() override {}
  void showError(const std::string& message) override;
  void endProgram() override {}
  bool endPending() override { return stopRequested && stopRequested(); }

 private:
  bool ending();
  // A write that fails (the reader of standard output went away) loses the line, never
  // the program; the stream is cleared so a later reader gets the lines again.
  static void writeLine(std::ostream& os, const std::string& line);

  std::ostream& out_;
  std::ostream& err_;
  TfrmPrincipal svc_;
  TimerSchedule schedule_;
};

}  // namespace tefsync

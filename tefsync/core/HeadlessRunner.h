// Runs the service without a window: drives its two timers with the clock, writes every
// event-log row to standard output and every error to the log and standard error.
#pragma once

#include <cstdint>
#include <functional>
#include <ostream>

#include "tefsync/core/TfrmPrincipal.h"

namespace tefsync {

class HeadlessRunner {
 public:
  // Attaches its hooks to the service; call before svc.FormCreate().
  HeadlessRunner(TfrmPrincipal& svc, std::ostream& out, std::ostream& err);

  // Asked between ticks and during the long waits inside one: end the program.
  std::function<bool()> stopRequested;
  // Asked between ticks: run Habilita_inicial, as activating the window does.
  std::function<bool()> reloadRequested;

  // Runs until the service or stopRequested asks to end. Returns the exit code.
  int run();
  // One pass: runs every due tick, else pauses until the next one (at most maxPauseMs).
  // False once the program is to end.
  bool step(int64_t maxPauseMs = 200);

 private:
  struct Armed {
    uint64_t seen = 0;
    int64_t dueMs = -1;  // -1: off
  };
  void arm(const TimerState& t, Armed& a, int64_t now);
  bool ending() const;

  TfrmPrincipal& svc_;
  std::ostream& out_;
  std::ostream& err_;
  Armed api_, ping_;
};

}  // namespace tefsync

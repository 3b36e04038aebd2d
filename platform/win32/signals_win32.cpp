// End requests of a console program: Ctrl+C, Ctrl+Break, the console closed, log-off and
// shut-down all ask the program to end as "Sair do sistema" does.
#include <windows.h>

#include <atomic>

#include "platform/signals.h"

namespace plat {

namespace {

std::atomic<bool> stopFlag{false};

BOOL WINAPI onConsoleEvent(DWORD event) {
  stopFlag = true;
  if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
    // Windows ends the process when this returns: give the main loop time to finish its
    // tick and return from main first (which ends the process anyway).
    ::Sleep(4000);
  }
  return TRUE;
}

}  // namespace

void installStopSignals() {
  ::SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

bool stopRequested() {
  return stopFlag;
}

// Windows has no reload signal; the settings are re-read when the window is restored.
void installReloadSignal() {}

bool takeReloadRequest() {
  return false;
}

}  // namespace plat

#include <signal.h>

#include <csignal>

#include "platform/signals.h"

namespace plat {

namespace {

volatile std::sig_atomic_t stopFlag = 0;
volatile std::sig_atomic_t reloadFlag = 0;

void onStop(int) {
  stopFlag = 1;
}

void onReload(int) {
  reloadFlag = 1;
}

}  // namespace

void installStopSignals() {
  struct sigaction sa {};
  sa.sa_handler = onStop;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = 0;
  ::sigaction(SIGTERM, &sa, nullptr);
  ::sigaction(SIGINT, &sa, nullptr);
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  ::sigaction(SIGPIPE, &ignore, nullptr);
}

void installHangUpStop() {
  struct sigaction sa {};
  sa.sa_handler = onStop;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = 0;
  ::sigaction(SIGHUP, &sa, nullptr);
}

bool stopRequested() {
  return stopFlag != 0;
}

void installReloadSignal() {
  struct sigaction sa {};
  sa.sa_handler = onReload;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = 0;
  ::sigaction(SIGHUP, &sa, nullptr);
}

bool takeReloadRequest() {
  if (reloadFlag == 0) return false;
  reloadFlag = 0;
  return true;
}

}  // namespace plat

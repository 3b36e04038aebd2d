// tefsync: in the tray when a display is present, otherwise headless (the whole service on
// the clock). The event log goes to standard output in both modes. Reads no arguments;
// settings and the "ping" folder sit beside the executable.
#include <cstdlib>
#include <iostream>
#include <string>

#include "platform/display.h"
#include "platform/signals.h"
#include "tefsync/core/HeadlessRunner.h"
#include "tefsync/core/TfrmPrincipal.h"
#ifdef TEFSYNC_HAS_GUI
#include "tefsync/gui/desktop.h"
#endif

int main(int argc, char** argv) {
  std::string noDisplay;
  const bool display = plat::displayAvailable(&noDisplay);
#ifdef TEFSYNC_HAS_GUI
  if (display) {
    tefsync::TfrmPrincipal::Environment env;
    if (const char* ca = std::getenv("TEFSYNC_CA_FILE")) env.caFile = ca;
    return tefsync::gui::runDesktop(argc, argv, std::move(env));
  }
  if (!noDisplay.empty())
    std::cerr << "tefsync: " << noDisplay << "; running without a window" << std::endl;
#else
  (void)argc;
  (void)argv;
  (void)display;
#endif
  plat::installStopSignals();
  plat::installReloadSignal();
  try {
    tefsync::TfrmPrincipal::Environment env;
    // An extra trusted CA for a service with a private certificate (and the tests).
    if (const char* ca = std::getenv("TEFSYNC_CA_FILE")) env.caFile = ca;
    tefsync::HeadlessRunner runner(std::move(env), std::cout, std::cerr);
    runner.stopRequested = [] { return plat::stopRequested(); };
    runner.reloadRequested = [] { return plat::takeReloadRequest(); };
    runner.svc().FormCreate();
    return runner.run();
  } catch (const std::exception& e) {
    std::cerr << "tefsync: " << e.what() << std::endl;
    return 1;
  }
}

// tefsync: in the tray when a display is present, otherwise headless (the whole service on
// the clock). The event log goes to standard output in both modes. Reads no arguments;
// settings and the "ping" folder sit beside the executable. TEFSYNC_HEADLESS=1 runs
// headless whatever the display.
#include <cstdlib>
#include <iostream>
#include <string>

#include "platform/signals.h"
#include "tefsync/core/HeadlessRunner.h"
#include "tefsync/core/TfrmPrincipal.h"
#ifdef TEFSYNC_HAS_GUI
#include "tefsync/gui/desktop.h"
#endif

int main(int argc, char** argv) {
#ifdef TEFSYNC_HAS_GUI
  const char* headless = std::getenv("TEFSYNC_HEADLESS");
  if (!(headless && std::string(headless) == "1") && tefsync::gui::displayAvailable()) {
    tefsync::TfrmPrincipal::Environment env;
    if (const char* ca = std::getenv("TEFSYNC_CA_FILE")) env.caFile = ca;
    return tefsync::gui::runDesktop(argc, argv, std::move(env));
  }
#else
  (void)argc;
  (void)argv;
#endif
  plat::installStopSignals();
  plat::installReloadSignal();
  try {
    tefsync::TfrmPrincipal::Environment env;
    // An extra trusted CA for a service with a private certificate (and the tests).
    if (const char* ca = std::getenv("TEFSYNC_CA_FILE")) env.caFile = ca;
    tefsync::TfrmPrincipal svc(std::move(env));
    tefsync::HeadlessRunner runner(svc, std::cout, std::cerr);
    runner.stopRequested = [] { return plat::stopRequested(); };
    runner.reloadRequested = [] { return plat::takeReloadRequest(); };
    svc.FormCreate();
    return runner.run();
  } catch (const std::exception& e) {
    std::cerr << "tefsync: " << e.what() << std::endl;
    return 1;
  }
}

// tefsync: in the tray when a display is there (the window shell module beside the
// program; on Windows the Win32 shell), otherwise headless (the whole service on the
// clock). The event log goes to standard output in both modes. Reads no arguments;
// settings and the "ping" folder sit beside the executable. TEFSYNC_HEADLESS=1 runs
// headless whatever the display.
#include <cstdlib>
#include <iostream>
#include <string>

#include "common/funcoes_zkt.h"
#include "platform/display.h"
#include "platform/module.h"
#include "platform/signals.h"
#include "tefsync/core/HeadlessRunner.h"
#include "tefsync/core/TfrmPrincipal.h"
#include "tefsync/core/safe_text.h"
#ifdef TEFSYNC_WIN32_SHELL
#include "tefsync/win32/Desktop.h"
#endif

int main(int argc, char** argv) {
  const char* headless = std::getenv("TEFSYNC_HEADLESS");
  const bool windowWanted = !(headless && std::string(headless) == "1");
#ifdef TEFSYNC_WIN32_SHELL
  (void)argc;
  (void)argv;
  // In the tray; headless too when no window can be made.
  if (windowWanted) {
    const int status = tefsync::win32::runWindows({});
    if (status >= 0) return status;
  }
#else
  std::string noWindow;
  if (windowWanted && plat::displayAvailable(&noWindow)) {
#ifdef TEFSYNC_DESKTOP_MODULE
    const std::string module =
        zkt::Path_Do_Executavel() + plat::moduleFileName(TEFSYNC_DESKTOP_MODULE);
    std::string why;
    if (plat::ModuleMain desktop = plat::loadModuleMain(module, "tefsync_desktop_main", &why))
      return desktop(argc, argv);
    noWindow = "window shell not loaded (" + why + ")";
#else
    (void)argc;
    (void)argv;
#endif
  }
  if (!noWindow.empty())
    std::cerr << "tefsync: " << noWindow << "; running without a window" << std::endl;
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
    std::cerr << "tefsync: " << tefsync::escapeControls(e.what()) << std::endl;
    return 1;
  }
}

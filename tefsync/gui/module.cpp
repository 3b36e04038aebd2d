// The window shell as a part the program loads only when a display is there, so a
// headless tefsync never maps the window toolkit.
#include <cstdlib>

#include "tefsync/gui/desktop.h"

extern "C" int tefsync_desktop_main(int argc, char** argv) {
  tefsync::TfrmPrincipal::Environment env;
  // An extra trusted CA for a service with a private certificate (and the tests).
  if (const char* ca = std::getenv("TEFSYNC_CA_FILE")) env.caFile = ca;
  return tefsync::gui::runDesktop(argc, argv, std::move(env));
}

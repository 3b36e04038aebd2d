// The desktop program: tray icon, main window and settings dialog over the service object.
#pragma once

#include <string>

#include "tefsync/core/TfrmPrincipal.h"

namespace tefsync::gui {

// Runs the program in the tray until the operator ends it (or a stop signal arrives).
// Event-log rows go to standard output. Returns the exit status.
int runDesktop(int argc, char** argv, TfrmPrincipal::Environment env);

}  // namespace tefsync::gui

// The desktop program: tray icon, main window and settings dialog over the service object.
#pragma once

#include <string>

#include "tefsync/core/TfrmPrincipal.h"

namespace tefsync::gui {

// False when neither DISPLAY nor WAYLAND_DISPLAY is set, or when QT_QPA_PLATFORM names the
// offscreen or minimal platform: the program then runs headless.
bool displayAvailable();

// The application title: the executable's file name without its folder, cut before its
// first ".", every character after the first in lower case (the tray tip).
std::string applicationTitle(const std::string& executablePath);

// Runs the program in the tray until the operator ends it (or a stop signal arrives).
// Event-log rows go to standard output. Returns the exit status.
int runDesktop(int argc, char** argv, TfrmPrincipal::Environment env);

}  // namespace tefsync::gui

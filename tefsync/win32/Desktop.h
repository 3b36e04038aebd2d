// The program entry's way into the Windows shell (no window API in this header).
#pragma once

#include "tefsync/core/TfrmPrincipal.h"

namespace tefsync::win32 {

// Runs tefsync in the tray until the operator ends it, Windows shuts down, or a console
// end event arrives. Returns the exit status; -1 when no window could be created (the
// caller then runs headless).
int runWindows(TfrmPrincipal::Environment env);

}  // namespace tefsync::win32

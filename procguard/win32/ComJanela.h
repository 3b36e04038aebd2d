// The program entry's way into the guardian's Windows shell (no window API in this header).
#pragma once

namespace procguard::win32 {

// The guardian with its window and tray icon until it ends; the exit status, or -1 when no
// window could be created (the caller then runs headless).
int ExecutarComJanela();

}  // namespace procguard::win32

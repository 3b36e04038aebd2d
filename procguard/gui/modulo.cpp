// The guardian's window shell as a part the program loads only when a display is there,
// so a headless guardian never maps the window toolkit.
#include "platform/signals.h"
#include "procguard/gui/JanelaGuardiao.h"

extern "C" int procguard_desktop_main(int argc, char** argv) {
  // The module keeps its own stop flag: its handlers take over from the program's.
  plat::installStopSignals();
  plat::installHangUpStop();
  return procguard::ExecutarComTela(argc, argv);
}

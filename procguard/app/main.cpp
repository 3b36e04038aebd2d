// Program entry of the guardian. No arguments are read. With a display it runs as a tray
// program; without one the same logic runs headless.
#include <iostream>
#include <string>

#include "common/funcoes_zkt.h"
#include "platform/display.h"
#include "platform/signals.h"
#include "procguard/Guardiao.h"
#include "procguard/SemTela.h"
#ifdef PROCGUARD_GUI
#include "procguard/gui/JanelaGuardiao.h"
#endif

int main(int argc, char** argv) {
  plat::installStopSignals();
  // A hang-up ends the guardian as SIGTERM does, with its shutdown step: the synchronizer
  // never outlives it.
  plat::installHangUpStop();
  std::string semDisplay;
  const bool display = plat::displayAvailable(&semDisplay);
#ifdef PROCGUARD_GUI
  if (display) return procguard::ExecutarComTela(argc, argv);
  if (!semDisplay.empty())
    std::cerr << "procguard: " << semDisplay << "; running without a window" << std::endl;
#else
  (void)argc;
  (void)argv;
  (void)display;
#endif
  procguard::ProcessosDoSistema processos;
  procguard::TelaTexto tela(std::cout, std::cerr);
  procguard::TfrmPrincipal frm(processos, tela, zkt::Path_Do_Executavel());
  procguard::ExecutarSemTela(frm, tela, [] { return plat::stopRequested(); });
  return 0;
}

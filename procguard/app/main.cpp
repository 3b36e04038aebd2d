// Program entry of the guardian. No arguments are read. With a display it runs as a tray
// program (the window shell module beside the program); without one the same logic runs
// headless.
#include <iostream>
#include <string>

#include "common/funcoes_zkt.h"
#include "platform/display.h"
#include "platform/module.h"
#include "platform/signals.h"
#include "procguard/Guardiao.h"
#include "procguard/SemTela.h"
#ifdef PROCGUARD_WIN32
#include "procguard/win32/ComJanela.h"
#endif

int main(int argc, char** argv) {
  plat::installStopSignals();
  // A hang-up ends the guardian as SIGTERM does, with its shutdown step: the synchronizer
  // never outlives it.
  plat::installHangUpStop();
#ifdef PROCGUARD_WIN32
  (void)argc;
  (void)argv;
  // In the tray; headless only when no window can be made.
  if (const int status = procguard::win32::ExecutarComJanela(); status >= 0) return status;
#else
  std::string semJanela;
  if (plat::displayAvailable(&semJanela)) {
#ifdef PROCGUARD_DESKTOP_MODULE
    const std::string modulo =
        zkt::Path_Do_Executavel() + plat::moduleFileName(PROCGUARD_DESKTOP_MODULE);
    std::string motivo;
    if (plat::ModuleMain janela = plat::loadModuleMain(modulo, "procguard_desktop_main", &motivo))
      return janela(argc, argv);
    semJanela = "window shell not loaded (" + motivo + ")";
#else
    (void)argc;
    (void)argv;
#endif
  }
  if (!semJanela.empty())
    std::cerr << "procguard: " << semJanela << "; running without a window" << std::endl;
#endif
  procguard::ProcessosDoSistema processos;
  procguard::TelaTexto tela(std::cout, std::cerr);
  procguard::TfrmPrincipal frm(processos, tela, zkt::Path_Do_Executavel());
  procguard::ExecutarSemTela(frm, tela, [] { return plat::stopRequested(); });
  return 0;
}

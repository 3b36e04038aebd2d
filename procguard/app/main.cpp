// Program entry of the guardian. No arguments are read. With a display it runs as a tray
// program; without one the same logic runs headless.
#include <iostream>

#include "common/funcoes_zkt.h"
#include "platform/signals.h"
#include "procguard/Guardiao.h"
#include "procguard/SemTela.h"
#ifdef PROCGUARD_GUI
#include "procguard/gui/JanelaGuardiao.h"
#endif
#ifdef PROCGUARD_WIN32
#include "procguard/win32/ComJanela.h"
#endif

int main(int argc, char** argv) {
  plat::installStopSignals();
  // A hang-up ends the guardian as SIGTERM does, with its shutdown step: the synchronizer
  // never outlives it.
  plat::installHangUpStop();
#ifdef PROCGUARD_GUI
  if (procguard::HaDisplay()) return procguard::ExecutarComTela(argc, argv);
#else
  (void)argc;
  (void)argv;
#endif
#ifdef PROCGUARD_WIN32
  // In the tray; headless only when no window can be made.
  if (const int status = procguard::win32::ExecutarComJanela(); status >= 0) return status;
#endif
  procguard::ProcessosDoSistema processos;
  procguard::TelaTexto tela(std::cout, std::cerr);
  procguard::TfrmPrincipal frm(processos, tela, zkt::Path_Do_Executavel());
  procguard::ExecutarSemTela(frm, tela, [] { return plat::stopRequested(); });
  return 0;
}

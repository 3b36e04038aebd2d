#include "tefsync/gui/desktop.h"

#include <QApplication>
#include <iostream>

#include "platform/display.h"
#include "platform/host.h"
#include "platform/signals.h"
#include "tefsync/gui/FrmPrincipal.h"

namespace tefsync::gui {

int runDesktop(int argc, char** argv, TfrmPrincipal::Environment env) {
  plat::installStopSignals();
  QApplication app(argc, argv);
  const std::string title = plat::applicationTitle(plat::executablePath());
  // No display name: Qt would add it to every window title (" — tefsync"), and the titles
  // are exactly the program's texts.
  QApplication::setApplicationName(QString::fromStdString(title));
  // The window is hidden and closing it only hides it: only "Sair" ends the program.
  QApplication::setQuitOnLastWindowClosed(false);
  FrmPrincipal window(std::move(env), title, std::cout, std::cerr);
  if (window.svc().endRequested) return 0;
  return QApplication::exec();
}

}  // namespace tefsync::gui

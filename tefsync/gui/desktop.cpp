#include "tefsync/gui/desktop.h"

#include <QApplication>
#include <cstdlib>
#include <iostream>

#include "platform/host.h"
#include "platform/signals.h"
#include "tefsync/gui/FrmPrincipal.h"

namespace tefsync::gui {

bool displayAvailable() {
  if (const char* qpa = std::getenv("QT_QPA_PLATFORM")) {
    // Options may follow the platform name after a colon ("offscreen:fontengine=...").
    const std::string value(qpa);
    const std::string platform = value.substr(0, value.find(':'));
    if (platform == "offscreen" || platform == "minimal") return false;
  }
  const char* x = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  return (x != nullptr && *x != '\0') || (wayland != nullptr && *wayland != '\0');
}

std::string applicationTitle(const std::string& executablePath) {
  std::string name = executablePath;
  const auto slash = name.find_last_of("/\\");
  if (slash != std::string::npos) name.erase(0, slash + 1);
  const auto dot = name.find('.');
  if (dot != std::string::npos) name.resize(dot);
  for (size_t i = 1; i < name.size(); ++i) {
    if (name[i] >= 'A' && name[i] <= 'Z') name[i] = static_cast<char>(name[i] - 'A' + 'a');
  }
  return name;
}

int runDesktop(int argc, char** argv, TfrmPrincipal::Environment env) {
  plat::installStopSignals();
  QApplication app(argc, argv);
  const std::string title = applicationTitle(plat::executablePath());
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

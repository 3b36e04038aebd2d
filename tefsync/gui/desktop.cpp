#include "tefsync/gui/desktop.h"

#include <QApplication>
#include <QLocalServer>
#include <QLocalSocket>
#include <QMessageBox>
#include <QRegularExpression>
#include <iostream>
#include <memory>

#include "platform/display.h"
#include "platform/host.h"
#include "platform/signals.h"
#include "tefsync/gui/FrmPrincipal.h"

namespace tefsync::gui {
namespace {

constexpr int kAskMs = 2000;

}  // namespace

int runDesktop(int argc, char** argv, TfrmPrincipal::Environment env) {
  plat::installStopSignals();
  QApplication app(argc, argv);
  const std::string title = plat::applicationTitle(plat::executablePath());
  // No display name: Qt would add it to every window title (" — tefsync"), and the titles
  // are exactly the program's texts.
  QApplication::setApplicationName(QString::fromStdString(title));
  // The window is hidden and closing it only hides it: only "Sair" ends the program.
  QApplication::setQuitOnLastWindowClosed(false);
  // One name per user and display: the synchronizer of this session answers it.
  QString session = qEnvironmentVariable("USER") + "-" +
                    qEnvironmentVariable("DISPLAY", qEnvironmentVariable("WAYLAND_DISPLAY"));
  session.replace(QRegularExpression("[^A-Za-z0-9_.-]"), "_");
  const QString serverName = "tefsync-" + session;
  std::unique_ptr<FrmPrincipal> window;
  try {
    window = std::make_unique<FrmPrincipal>(std::move(env), title, std::cout, std::cerr);
  } catch (const SincronizadorEmExecucao& e) {
    std::cerr << "tefsync: " << e.what() << std::endl;
    QLocalSocket running;
    running.connectToServer(serverName);
    if (running.waitForConnected(kAskMs)) {
      running.write("mostrar\n");
      running.waitForBytesWritten(kAskMs);
      running.disconnectFromServer();
    } else {
      QMessageBox::information(nullptr, QString::fromStdString(title), QString::fromUtf8(e.what()));
    }
    return 3;
  }
  if (window->svc().endRequested) return 0;
  // A second start in this session brings this window forward. The lock is held, so a name
  // left by an earlier run that ended dead is stale.
  QLocalServer server;
  QLocalServer::removeServer(serverName);
  server.setSocketOptions(QLocalServer::UserAccessOption);
  if (!server.listen(serverName))
    std::cerr << "tefsync: " << server.errorString().toStdString() << std::endl;
  QObject::connect(&server, &QLocalServer::newConnection, [&server, &window] {
    while (QLocalSocket* c = server.nextPendingConnection()) {
      QObject::connect(c, &QLocalSocket::disconnected, c, &QObject::deleteLater);
      window->logic().restauraClick();
    }
  });
  return QApplication::exec();
}

}  // namespace tefsync::gui

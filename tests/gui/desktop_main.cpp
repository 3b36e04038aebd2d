// The desktop shell as a program of its own, for checks in a real X session.
#include "tefsync/gui/desktop.h"

int main(int argc, char** argv) {
  return tefsync::gui::runDesktop(argc, argv, {});
}

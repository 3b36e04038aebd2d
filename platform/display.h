// Whether a window shell can run here, and the title both programs show in the tray.
#pragma once

#include <string>

namespace plat {

// The display a window shell would use, from the environment alone: none when neither
// DISPLAY nor WAYLAND_DISPLAY is set, or when QT_QPA_PLATFORM names a platform without a
// screen ("offscreen", "minimal").
struct DisplayName {
  enum Kind { kNone, kX11, kWayland } kind = kNone;
  std::string name;  // as the environment gives it (":0", "wayland-0")
};
DisplayName displayFromEnvironment();

// The display, when one is named and its server answers a connection. Otherwise false,
// and why (empty when no display is named at all: plain headless use).
bool displayAvailable(std::string* whyNot = nullptr);

// The application title: the executable's file name without its folder, cut before its
// first ".", every character after the first in lower case.
std::string applicationTitle(const std::string& executablePath);

}  // namespace plat

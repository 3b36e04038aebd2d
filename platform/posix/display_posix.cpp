// A display server answers when its socket takes a connection: X11 on its local socket
// (abstract or in /tmp/.X11-unix) or on TCP port 6000 + display number, Wayland on its
// socket in XDG_RUNTIME_DIR. Nothing of a window toolkit is loaded to find out.
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/display.h"

namespace plat {
namespace {

std::string env(const char* name) {
  const char* v = std::getenv(name);
  return v == nullptr ? std::string() : std::string(v);
}

// Connects within a short time (a remote X server that never answers must not hold the
// start-up); true when the connection was taken.
bool connectWithin(int fd, const sockaddr* addr, socklen_t len, int timeoutMs) {
  const int flags = ::fcntl(fd, F_GETFL, 0);
  ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
  if (::connect(fd, addr, len) == 0) return true;
  if (errno != EINPROGRESS) return false;
  pollfd p{fd, POLLOUT, 0};
  if (::poll(&p, 1, timeoutMs) != 1) return false;
  int err = 0;
  socklen_t errLen = sizeof err;
  return ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &errLen) == 0 && err == 0;
}

bool connectUnix(const std::string& path, bool abstract) {
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  const size_t offset = abstract ? 1 : 0;
  if (path.size() + offset >= sizeof addr.sun_path) return false;
  std::memcpy(addr.sun_path + offset, path.data(), path.size());
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  const auto len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + offset + path.size() +
                                          (abstract ? 0 : 1));
  const bool ok = connectWithin(fd, reinterpret_cast<const sockaddr*>(&addr), len, 2000);
  ::close(fd);
  return ok;
}

bool connectTcp(const std::string& host, int port) {
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0) return false;
  bool ok = false;
  for (addrinfo* a = found; a != nullptr && !ok; a = a->ai_next) {
    const int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
    if (fd < 0) continue;
    ok = connectWithin(fd, a->ai_addr, a->ai_addrlen, 2000);
    ::close(fd);
  }
  ::freeaddrinfo(found);
  return ok;
}

// "[host]:number[.screen]", host "unix" or empty for the local socket.
bool x11Answers(const std::string& display) {
  const auto colon = display.rfind(':');
  if (colon == std::string::npos) return false;
  const std::string host = display.substr(0, colon);
  const std::string rest = display.substr(colon + 1);
  const std::string number = rest.substr(0, rest.find('.'));
  if (number.empty() || number.find_first_not_of("0123456789") != std::string::npos ||
      number.size() > 5)
    return false;
  if (host.empty() || host == "unix") {
    const std::string socket = "/tmp/.X11-unix/X" + number;
    return connectUnix(socket, true) || connectUnix(socket, false);
  }
  return connectTcp(host, 6000 + std::stoi(number));
}

bool waylandAnswers(const std::string& name) {
  if (!name.empty() && name[0] == '/') return connectUnix(name, false);
  const std::string runtime = env("XDG_RUNTIME_DIR");
  return !runtime.empty() && connectUnix(runtime + "/" + name, false);
}

}  // namespace

DisplayName displayFromEnvironment() {
  // Options may follow the platform name after a colon ("offscreen:fontengine=...").
  const std::string qpa = env("QT_QPA_PLATFORM");
  const std::string platform = qpa.substr(0, qpa.find(':'));
  if (platform == "offscreen" || platform == "minimal") return {};
  const std::string x = env("DISPLAY");
  const std::string wayland = env("WAYLAND_DISPLAY");
  if (platform == "wayland")
    return wayland.empty() ? DisplayName{} : DisplayName{DisplayName::kWayland, wayland};
  if (!x.empty()) return {DisplayName::kX11, x};
  if (!wayland.empty() && platform != "xcb") return {DisplayName::kWayland, wayland};
  return {};
}

bool displayAvailable(std::string* whyNot) {
  const DisplayName d = displayFromEnvironment();
  if (whyNot != nullptr) whyNot->clear();
  if (d.kind == DisplayName::kNone) return false;
  const bool answers = d.kind == DisplayName::kX11 ? x11Answers(d.name) : waylandAnswers(d.name);
  if (!answers && whyNot != nullptr)
    *whyNot = (d.kind == DisplayName::kX11 ? "no X server answers on DISPLAY="
                                           : "no Wayland compositor answers on WAYLAND_DISPLAY=") +
              d.name;
  return answers;
}

}  // namespace plat

#include <limits.h>
#include <unistd.h>

#include <string>

#include "platform/host.h"

namespace plat {

std::string computerName() {
  char buf[HOST_NAME_MAX + 1] = {};
  if (::gethostname(buf, sizeof buf - 1) != 0) return {};
  std::string name(buf);
  // A NetBIOS name has no domain part.
  if (const auto dot = name.find('.'); dot != std::string::npos) name.resize(dot);
  if (name.size() > 15) name.resize(15);
  for (char& c : name)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return name;
}

std::string executablePath() {
  std::string buf(PATH_MAX, '\0');
  const ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size());
  if (n <= 0) return {};
  buf.resize(static_cast<size_t>(n));
  return buf;
}

}  // namespace plat

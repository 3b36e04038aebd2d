#include "platform/display.h"

namespace plat {

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

}  // namespace plat

// Identity of the computer and the running program.
#pragma once

#include <string>

namespace plat {

// The host name as Windows reports a computer name: upper case, at most 15 characters.
std::string computerName();
// Full native path of the running executable (from the process's own link, not argv[0]).
std::string executablePath();

}  // namespace plat

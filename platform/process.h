// Processes, for the guardian.
#pragma once

#include <string>

namespace plat {

// Running (non-zombie) processes whose executable's base name equals name, ASCII case
// folded. Processes that cannot be inspected are not counted.
int countProcesses(const std::string& name);
// Ends at once (as TerminateProcess does) every process whose executable file name, or
// whole path when name has a folder part, matches name without regard to ASCII case.
// True when at least one was ended. The calling process itself is never ended.
bool killProcesses(const std::string& name);
// Starts an executable by path with no shell, no arguments, in its own process group.
// False when it could not be started.
bool startProcess(const std::string& path);
// The file `name` in `folder` (which ends with a separator), found without regard to ASCII
// letter case as Windows finds it: its path with the name as it is on disk, the exact
// spelling first. Empty when no regular file matches or name has a folder part.
std::string findInFolder(const std::string& folder, const std::string& name);
// Reaps finished children so none is left a zombie.
void reapChildren();

}  // namespace plat

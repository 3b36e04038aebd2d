// Child processes for tests that must stop a run dead at a chosen point.
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace plat {

// Runs fn in a forked copy of this process and waits for it to end. The child leaves with
// status 0 when fn returns and 70 when it throws. Returns the child's exit status, 128 plus
// the signal number when a signal ended it, or -1 when no child could be started (always
// on Windows, which has no fork: use runSelf there).
int runInChild(const std::function<void()>& fn);

using EnvVars = std::vector<std::pair<std::string, std::string>>;

// Runs this same program again with args and env added to (or replacing in) this
// process's environment, and waits for it. A test program recognises its child role from
// what it is given. Returns the exit status, 128 plus the signal number when a signal ended
// it, or -1 when it could not be started.
int runSelf(const std::vector<std::string>& args, const EnvVars& env = {});

// Ends the calling process at once with status code, as a power cut would end it: no
// destructors, no buffered output written.
[[noreturn]] void exitNow(int code);

}  // namespace plat

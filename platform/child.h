// Child processes for tests that must stop a run dead at a chosen point.
#pragma once

#include <functional>

namespace plat {

// Runs fn in a forked copy of this process and waits for it to end. The child leaves with
// status 0 when fn returns and 70 when it throws. Returns the child's exit status, 128 plus
// the signal number when a signal ended it, or -1 when no child could be started.
int runInChild(const std::function<void()>& fn);

// Ends the calling process at once with status code, as a power cut would end it: no
// destructors, no buffered output written.
[[noreturn]] void exitNow(int code);

}  // namespace plat

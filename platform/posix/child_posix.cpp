#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "platform/child.h"

namespace plat {

int runInChild(const std::function<void()>& fn) {
  const pid_t pid = ::fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    int code = 0;
    try {
      fn();
    } catch (...) {
      code = 70;
    }
    ::_exit(code);
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

void exitNow(int code) {
  ::_exit(code);
}

}  // namespace plat

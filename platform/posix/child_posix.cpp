#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/child.h"
#include "platform/host.h"

extern char** environ;

namespace plat {

namespace {

int waitFor(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

}  // namespace

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
  return waitFor(pid);
}

int runSelf(const std::vector<std::string>& args, const EnvVars& env) {
  const std::string self = executablePath();
  std::vector<std::string> argStore{self};
  argStore.insert(argStore.end(), args.begin(), args.end());
  std::vector<std::string> envStore;
  for (char** e = environ; *e != nullptr; ++e) {
    const char* eq = std::strchr(*e, '=');
    const std::string name(*e, eq ? static_cast<size_t>(eq - *e) : std::strlen(*e));
    bool replaced = false;
    for (const auto& [n, v] : env) replaced = replaced || n == name;
    if (!replaced) envStore.emplace_back(*e);
  }
  for (const auto& [n, v] : env) envStore.push_back(n + "=" + v);
  std::vector<char*> argv;
  for (auto& a : argStore) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<char*> envp;
  for (auto& e : envStore) envp.push_back(e.data());
  envp.push_back(nullptr);
  pid_t pid = 0;
  if (::posix_spawn(&pid, self.c_str(), nullptr, nullptr, argv.data(), envp.data()) != 0) return -1;
  return waitFor(pid);
}

void exitNow(int code) {
  ::_exit(code);
}

}  // namespace plat

// Processes on Linux: the process list comes from /proc, an executable's name from its
// exe link (the command name in /proc/<pid>/stat is cut at 15 characters).
#include <dirent.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "platform/detail.h"
#include "platform/process.h"

extern char** environ;

namespace plat {
namespace {

using detail::equalsNoCase;
using detail::trimBlanks;
using detail::upperAscii;

std::string baseName(const std::string& path) {
  return detail::baseName(path, detail::kPosixSeparator);
}

std::vector<pid_t> listPids() {
  std::vector<pid_t> pids;
  DIR* dir = opendir("/proc");
  if (dir == nullptr) return pids;
  while (dirent* entry = readdir(dir)) {
    const char* name = entry->d_name;
    if (*name == '\0') continue;
    bool numeric = true;
    for (const char* p = name; *p != '\0'; ++p) {
      if (*p < '0' || *p > '9') {
        numeric = false;
        break;
      }
    }
    if (numeric) pids.push_back(static_cast<pid_t>(std::strtol(name, nullptr, 10)));
  }
  closedir(dir);
  return pids;
}

// A zombie (or a process already gone) is not running.
bool isRunning(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  if (!stat) return false;
  std::string line;
  std::getline(stat, line);
  // The command name may hold blanks and parentheses; the state follows the last ')'.
  const auto close = line.rfind(')');
  if (close == std::string::npos || close + 2 >= line.size()) return false;
  const char state = line[close + 2];
  return state != 'Z' && state != 'X' && state != 'x';
}

// Full path of a process's executable; empty when it cannot be inspected (another
// user's process, a kernel thread, a process that has just ended).
std::optional<std::string> executableOf(pid_t pid) {
  const std::string link = "/proc/" + std::to_string(pid) + "/exe";
  std::vector<char> buf(4096);
  const ssize_t n = readlink(link.c_str(), buf.data(), buf.size());
  if (n <= 0 || static_cast<size_t>(n) >= buf.size()) return std::nullopt;
  std::string path(buf.data(), static_cast<size_t>(n));
  // A running program whose file was replaced still is that program.
  static const std::string deleted = " (deleted)";
  if (path.size() > deleted.size() &&
      path.compare(path.size() - deleted.size(), deleted.size(), deleted) == 0) {
    path.resize(path.size() - deleted.size());
  }
  return path;
}

}  // namespace

int countProcesses(const std::string& name) {
  const std::string wanted = upperAscii(name);
  int count = 0;
  for (pid_t pid : listPids()) {
    const auto exe = executableOf(pid);
    if (!exe || !isRunning(pid)) continue;
    if (upperAscii(trimBlanks(baseName(*exe))) == wanted) ++count;
  }
  return count;
}

bool killProcesses(const std::string& name) {
  const bool wholePath = baseName(name) != name;
  const pid_t self = getpid();
  bool ended = false;
  for (pid_t pid : listPids()) {
    if (pid == self) continue;
    const auto exe = executableOf(pid);
    if (!exe || !isRunning(pid)) continue;
    const std::string candidate = wholePath ? *exe : baseName(*exe);
    if (!equalsNoCase(candidate, name)) continue;
    if (kill(pid, SIGKILL) == 0) ended = true;
  }
  return ended;
}

bool startProcess(const std::string& path) {
  posix_spawnattr_t attr;
  if (posix_spawnattr_init(&attr) != 0) return false;
  sigset_t none;
  sigemptyset(&none);
  sigset_t all;
  sigfillset(&all);
  // Own session and process group: a signal meant for the guardian's group (a terminal's
  // Ctrl+C) does not reach the synchronizer, which the guardian ends itself.
  short flags = POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
  bool ok = posix_spawnattr_setflags(&attr, flags) == 0 &&
            posix_spawnattr_setsigmask(&attr, &none) == 0 &&
            posix_spawnattr_setsigdefault(&attr, &all) == 0;
  if (ok) {
    std::vector<char> arg0(path.begin(), path.end());
    arg0.push_back('\0');
    char* argv[] = {arg0.data(), nullptr};
    pid_t pid = 0;
    // posix_spawn, not posix_spawnp: the path is used as given, never searched or parsed.
    ok = posix_spawn(&pid, path.c_str(), nullptr, &attr, argv, environ) == 0;
  }
  posix_spawnattr_destroy(&attr);
  return ok;
}

std::string findInFolder(const std::string& folder, const std::string& name) {
  if (name.empty() || name.find('/') != std::string::npos || name == "." || name == "..") return {};
  auto isFile = [](const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
  };
  if (isFile(folder + name)) return folder + name;
  std::vector<std::string> matches;
  if (DIR* dir = opendir(folder.empty() ? "." : folder.c_str())) {
    while (dirent* entry = readdir(dir)) {
      if (equalsNoCase(entry->d_name, name) && isFile(folder + entry->d_name))
        matches.emplace_back(entry->d_name);
    }
    closedir(dir);
  }
  if (matches.empty()) return {};
  // Several spellings of one name: always the same one.
  std::sort(matches.begin(), matches.end());
  return folder + matches.front();
}

void reapChildren() {
  int status = 0;
  while (waitpid(-1, &status, WNOHANG) > 0) {
  }
}

}  // namespace plat

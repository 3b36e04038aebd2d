#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "platform/fs.h"
#include "platform/lock.h"

namespace plat {
namespace {

class PosixLock final : public FileLock {
 public:
  explicit PosixLock(int fd) : fd_(fd) {}
  ~PosixLock() override { ::close(fd_); }

 private:
  int fd_;
};

}  // namespace

std::unique_ptr<FileLock> FileLock::tryTake(std::string_view path, Result& result,
                                            std::string& error) {
  error.clear();
  const std::string p = nativePath(path);
  // Close-on-exec: a program this one starts must not hold the lock after it ends.
  int fd = ::open(p.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  // Another user's file that this one may only read: a lock on it still excludes.
  if (fd < 0 && errno == EACCES) fd = ::open(p.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    result = Result::Failed;
    error = "Arquivo " + std::string(path) + ": " + systemErrorText(errno);
    return nullptr;
  }
  // flock belongs to the open file, not the process: a second open in this process conflicts
  // as a second process would.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int e = errno;
    ::close(fd);
    result = e == EWOULDBLOCK ? Result::Held : Result::Failed;
    if (result == Result::Failed)
      error = "Arquivo " + std::string(path) + ": " + systemErrorText(e);
    return nullptr;
  }
  result = Result::Taken;
  return std::unique_ptr<FileLock>(new PosixLock(fd));
}

}  // namespace plat

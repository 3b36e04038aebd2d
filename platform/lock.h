// A lock that one process at a time holds on a file, for as long as it lives: the system
// frees it at any end of the process (a normal end, a forced end, a power cut), so a lock
// is never left behind by a process that is gone.
#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace plat {

class FileLock {
 public:
  enum class Result {
    Taken,  // this process holds it now
    Held,   // another process (or another FileLock of this one) holds it
    Failed  // the file could not be opened or created: `error` says why
  };

  // Tries once, without waiting, to take the lock on the file at path (a system path),
  // creating the file when missing. On Windows the file stays open with no sharing; on
  // Linux it carries an exclusive flock. Its content is never read.
  static std::unique_ptr<FileLock> tryTake(std::string_view path, Result& result,
                                           std::string& error);

  virtual ~FileLock() = default;  // frees the lock
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

 protected:
  FileLock() = default;
};

}  // namespace plat

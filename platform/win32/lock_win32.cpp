#include "platform/lock.h"

#include <utility>

#include "platform/fs.h"
#include "platform/win32/wide.h"

namespace plat {
namespace {

class Win32Lock final : public FileLock {
 public:
  explicit Win32Lock(win::Handle h) : h_(std::move(h)) {}

 private:
  win::Handle h_;  // open with no sharing: nobody else can open the file meanwhile
};

}  // namespace

std::unique_ptr<FileLock> FileLock::tryTake(std::string_view path, Result& result,
                                            std::string& error) {
  error.clear();
  const std::wstring w = win::widen(nativePath(path));
  // Share mode 0 stands for the lock: the system closes the handle at any end of the
  // process, TerminateProcess included. Not inherited by programs this one starts.
  HANDLE h = ::CreateFileW(w.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  DWORD err = h == INVALID_HANDLE_VALUE ? ::GetLastError() : 0;
  if (err == ERROR_ACCESS_DENIED) {
    // Another user's file that this one may only read: opening it unshared still locks.
    h = ::CreateFileW(w.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                      nullptr);
    err = h == INVALID_HANDLE_VALUE ? ::GetLastError() : 0;
  }
  if (err == ERROR_SHARING_VIOLATION || err == ERROR_LOCK_VIOLATION) {
    result = Result::Held;
    return nullptr;
  }
  if (err != 0) {
    result = Result::Failed;
    error = "Arquivo " + std::string(path) + ": " + systemErrorText(static_cast<int>(err));
    return nullptr;
  }
  result = Result::Taken;
  return std::unique_ptr<FileLock>(new Win32Lock(win::Handle(h)));
}

}  // namespace plat

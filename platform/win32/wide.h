// UTF-8 inside the programs, UTF-16 at every Win32 call; owning handles.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace plat::win {

std::wstring widen(std::string_view utf8);
std::string narrow(std::wstring_view utf16);

// An environment variable as UTF-8; empty when unset.
std::string env(const char* name);

// A kernel handle, closed on every path out.
class Handle {
 public:
  Handle() = default;
  explicit Handle(HANDLE h) : h_(h) {}
  ~Handle() { reset(); }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  Handle(Handle&& other) noexcept : h_(other.h_) { other.h_ = INVALID_HANDLE_VALUE; }
  Handle& operator=(Handle&& other) noexcept {
    if (this != &other) {
      reset();
      h_ = other.h_;
      other.h_ = INVALID_HANDLE_VALUE;
    }
    return *this;
  }

  bool ok() const { return h_ != INVALID_HANDLE_VALUE && h_ != nullptr; }
  HANDLE get() const { return h_; }
  // Closes now; false when closing failed.
  bool close() {
    const bool r = !ok() || ::CloseHandle(h_) != 0;
    h_ = INVALID_HANDLE_VALUE;
    return r;
  }
  void reset() { close(); }

 private:
  HANDLE h_ = INVALID_HANDLE_VALUE;
};

}  // namespace plat::win

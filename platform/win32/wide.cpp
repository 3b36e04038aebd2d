#include "platform/win32/wide.h"

#include <vector>

namespace plat::win {

std::wstring widen(std::string_view utf8) {
  if (utf8.empty()) return {};
  const int n =
      ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(n), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
  return out;
}

std::string narrow(std::wstring_view utf16) {
  if (utf16.empty()) return {};
  const int n = ::WideCharToMultiByte(CP_UTF8, 0, utf16.data(), static_cast<int>(utf16.size()),
                                      nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, utf16.data(), static_cast<int>(utf16.size()), out.data(), n,
                        nullptr, nullptr);
  return out;
}

std::string env(const char* name) {
  const std::wstring w = widen(name);
  const DWORD n = ::GetEnvironmentVariableW(w.c_str(), nullptr, 0);
  if (n == 0) return {};
  std::vector<wchar_t> buf(n);
  const DWORD got = ::GetEnvironmentVariableW(w.c_str(), buf.data(), n);
  if (got == 0 || got >= n) return {};
  return narrow(std::wstring_view(buf.data(), got));
}

}  // namespace plat::win

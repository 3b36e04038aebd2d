#include <windows.h>

#include <string>
#include <vector>

#include "platform/host.h"
#include "platform/win32/wide.h"

namespace plat {

std::string computerName() {
  // Room for 15 characters and the terminating zero, as Windows keeps a computer name.
  wchar_t buf[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
  if (!::GetComputerNameW(buf, &size)) return {};
  return win::narrow(std::wstring_view(buf, size));
}

std::string executablePath() {
  std::vector<wchar_t> buf(MAX_PATH);
  for (;;) {
    const DWORD n = ::GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
    if (n == 0) return {};
    if (n < buf.size()) return win::narrow(std::wstring_view(buf.data(), n));
    buf.resize(buf.size() * 2);  // cut short: try again with more room
  }
}

}  // namespace plat

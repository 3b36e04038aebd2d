#include <windows.h>

#include <cwctype>
#include <string>
#include <vector>

#include "platform/child.h"
#include "platform/host.h"
#include "platform/win32/wide.h"

namespace plat {

namespace {

// One argument quoted so that the C runtime of the child splits it back unchanged.
std::wstring quoted(const std::wstring& arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) return arg;
  std::wstring out = L"\"";
  size_t backslashes = 0;
  for (wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    if (c == L'"')
      out.append(backslashes * 2 + 1, L'\\');
    else
      out.append(backslashes, L'\\');
    backslashes = 0;
    out += c;
  }
  out.append(backslashes * 2, L'\\');
  out += L'"';
  return out;
}

bool sameName(std::wstring_view a, std::wstring_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::towupper(a[i]) != std::towupper(b[i])) return false;
  return true;
}

}  // namespace

int runInChild(const std::function<void()>&) {
  return -1;
}

int runSelf(const std::vector<std::string>& args, const EnvVars& env) {
  const std::wstring self = win::widen(executablePath());
  std::wstring cmd = quoted(self);
  for (const auto& a : args) cmd += L" " + quoted(win::widen(a));

  // This process's environment with env laid over it.
  std::wstring block;
  if (wchar_t* strings = ::GetEnvironmentStringsW()) {
    for (const wchar_t* p = strings; *p != L'\0'; p += std::wcslen(p) + 1) {
      const std::wstring_view entry(p);
      const auto eq = entry.find(L'=', 1);  // "=C:=..." entries start with '='
      const std::wstring_view name = entry.substr(0, eq);
      bool replaced = false;
      for (const auto& [n, v] : env) replaced = replaced || sameName(name, win::widen(n));
      if (!replaced) block.append(entry).push_back(L'\0');
    }
    ::FreeEnvironmentStringsW(strings);
  }
  for (const auto& [n, v] : env) block.append(win::widen(n + "=" + v)).push_back(L'\0');
  block.push_back(L'\0');

  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!::CreateProcessW(self.c_str(), cmd.data(), nullptr, nullptr, FALSE,
                        CREATE_UNICODE_ENVIRONMENT, block.data(), nullptr, &si, &pi))
    return -1;
  win::Handle process(pi.hProcess);
  win::Handle thread(pi.hThread);
  ::WaitForSingleObject(process.get(), INFINITE);
  DWORD code = 0;
  if (!::GetExitCodeProcess(process.get(), &code)) return -1;
  return static_cast<int>(code);
}

void exitNow(int code) {
  // No destructors, no flushing: the process stops where it is.
  ::TerminateProcess(::GetCurrentProcess(), static_cast<UINT>(code));
  for (;;) ::Sleep(INFINITE);
}

}  // namespace plat

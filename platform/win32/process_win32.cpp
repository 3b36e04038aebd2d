// Processes on Windows: listed with a Toolhelp32 snapshot, ended with TerminateProcess,
// started with CreateProcessW (never through a shell).
#include <windows.h>
// needs windows.h first
#include <tlhelp32.h>

#include <string>
#include <utility>
#include <vector>

#include "platform/detail.h"
#include "platform/host.h"
#include "platform/process.h"
#include "platform/win32/wide.h"

namespace plat {
namespace {

using detail::trimBlanks;
using detail::upperAscii;

std::string baseName(const std::string& path) {
  return detail::baseName(path, detail::kAnySeparator);
}

struct Entry {
  DWORD pid;
  std::string exeName;  // file name only, as the snapshot gives it
};

std::vector<Entry> snapshot() {
  std::vector<Entry> out;
  win::Handle snap(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snap.ok()) return out;
  PROCESSENTRY32W pe{};
  pe.dwSize = sizeof pe;
  for (BOOL more = ::Process32FirstW(snap.get(), &pe); more;
       more = ::Process32NextW(snap.get(), &pe))
    out.push_back({pe.th32ProcessID, win::narrow(pe.szExeFile)});
  return out;
}

// Full path of a process's executable; empty when it cannot be inspected.
std::string fullPathOf(HANDLE process) {
  std::vector<wchar_t> buf(32768);
  DWORD size = static_cast<DWORD>(buf.size());
  if (!::QueryFullProcessImageNameW(process, 0, buf.data(), &size)) return {};
  return win::narrow(std::wstring_view(buf.data(), size));
}

}  // namespace

int countProcesses(const std::string& name) {
  const std::string wanted = upperAscii(name);
  int count = 0;
  for (const auto& e : snapshot())
    if (e.pid != 0 && upperAscii(trimBlanks(baseName(e.exeName))) == wanted) ++count;
  return count;
}

constexpr DWORD kEndWaitMs = 5000;

bool killProcesses(const std::string& name) {
  const bool wholePath = baseName(name) != name;
  const std::string wanted = upperAscii(name);
  const DWORD self = ::GetCurrentProcessId();
  bool ended = false;
  std::vector<win::Handle> ending;
  for (const auto& e : snapshot()) {
    if (e.pid == self || e.pid == 0) continue;
    if (!wholePath && upperAscii(baseName(e.exeName)) != wanted) continue;
    win::Handle h(::OpenProcess(PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE,
                                FALSE, e.pid));
    if (!h.ok()) continue;
    if (wholePath && upperAscii(fullPathOf(h.get())) != wanted) continue;
    if (::TerminateProcess(h.get(), 1)) {
      ended = true;
      ending.push_back(std::move(h));
    }
  }
  // TerminateProcess only starts the end: a program started next must find the files and
  // locks of the ended one released, so the end is awaited (a few seconds at most).
  for (const win::Handle& h : ending) ::WaitForSingleObject(h.get(), kEndWaitMs);
  return ended;
}

bool startProcess(const std::string& path) {
  const std::wstring exe = win::widen(path);
  std::wstring cmd = L"\"" + exe + L"\"";
  // The guardian's own folder is the started program's working folder.
  const std::string self = executablePath();
  const auto sep = self.find_last_of("\\/");
  const std::wstring folder = win::widen(sep == std::string::npos ? "." : self.substr(0, sep + 1));
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!::CreateProcessW(exe.c_str(), cmd.data(), nullptr, nullptr, FALSE, CREATE_NEW_PROCESS_GROUP,
                        nullptr, folder.c_str(), &si, &pi))
    return false;
  ::CloseHandle(pi.hThread);
  ::CloseHandle(pi.hProcess);
  return true;
}

// Windows keeps no zombies: nothing to reap.
void reapChildren() {}

// Windows finds file names without regard to letter case already.
std::string findInFolder(const std::string& folder, const std::string& name) {
  if (name.empty() || name.find_first_of("/\\:") != std::string::npos || name == "." ||
      name == "..")
    return {};
  const std::string path = folder + name;
  const DWORD attributes = ::GetFileAttributesW(win::widen(path).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
    return {};
  return path;
}

}  // namespace plat

// Files on Windows. Paths are used as they are, except that TEFSYNC_DRIVE_C, when set,
// stands for drive C: (tests never touch the real C:\).
#include <windows.h>

#include <atomic>
#include <functional>
#include <string>

#include "platform/clock.h"
#include "platform/detail.h"
#include "platform/fs.h"
#include "platform/win32/wide.h"

namespace plat {

namespace {

using detail::beforeChange;
using detail::isSep;

// Another program (the manager, an antivirus) may hold a file open for a moment: a
// sharing violation is retried this many times, kSharingPauseMs apart, before it is an error.
constexpr int kSharingRetries = 20;
constexpr int64_t kSharingPauseMs = 50;

// ERROR_DIRECTORY_NOT_SUPPORTED, which mingw's headers lack.
constexpr DWORD kIsAFolder = 336;

std::string stripTrailingSeps(std::string p) {
  while (p.size() > 1 && isSep(p.back()) && !(p.size() == 3 && p[1] == ':')) p.pop_back();
  return p;
}

bool sharingViolation(DWORD err) {
  return err == ERROR_SHARING_VIOLATION || err == ERROR_LOCK_VIOLATION;
}

// Runs op until it succeeds or fails for a reason other than a sharing violation;
// returns 0 or the last error.
DWORD withRetry(const std::function<bool()>& op) {
  for (int attempt = 0;; ++attempt) {
    if (op()) return 0;
    const DWORD err = ::GetLastError();
    if (!sharingViolation(err) || attempt >= kSharingRetries) return err;
    clock().sleepMs(kSharingPauseMs);
  }
}

std::wstring wp(std::string_view path) {
  return win::widen(nativePath(path));
}

DWORD attributesOf(std::string_view path) {
  return ::GetFileAttributesW(wp(path).c_str());
}

win::Handle openFile(std::string_view path, DWORD access, DWORD disposition, DWORD& err) {
  const std::wstring w = wp(path);
  win::Handle h;
  err = withRetry([&] {
    h = win::Handle(::CreateFileW(w.c_str(), access,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  disposition, FILE_ATTRIBUTE_NORMAL, nullptr));
    return h.ok();
  });
  return h;
}

bool writeAll(HANDLE h, std::string_view bytes) {
  const char* p = bytes.data();
  size_t left = bytes.size();
  while (left > 0) {
    const DWORD chunk = left > (1u << 30) ? (1u << 30) : static_cast<DWORD>(left);
    DWORD written = 0;
    if (!::WriteFile(h, p, chunk, &written, nullptr)) return false;
    p += written;
    left -= written;
  }
  return true;
}

bool readAll(HANDLE h, std::string& out) {
  char buf[65536];
  for (;;) {
    DWORD got = 0;
    if (!::ReadFile(h, buf, sizeof buf, &got, nullptr)) return false;
    if (got == 0) return true;
    out.append(buf, got);
  }
}

std::string folderOf(const std::string& p) {
  const auto sep = p.find_last_of("\\/");
  return sep == std::string::npos ? std::string() : p.substr(0, sep + 1);
}

// A fresh name beside the target (nobody owns that folder's leftovers), or the fixed name in
// stagingDir that its owner can clear after a cut.
std::string stagingName(const std::string& target, const std::string& stagingDir) {
  static std::atomic<unsigned> counter{0};
  const std::string base = detail::baseName(target, detail::kAnySeparator);
  if (!stagingDir.empty()) return stripTrailingSeps(stagingDir) + "\\." + base + ".tmp";
  return folderOf(target) + "." + base + ".tmp" + std::to_string(::GetCurrentProcessId()) + "_" +
         std::to_string(counter.fetch_add(1));
}

DWORD moveReplacing(const std::wstring& from, const std::wstring& to) {
  return withRetry([&] {
    return ::MoveFileExW(from.c_str(), to.c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
  });
}

// Writes bytes to a fresh staging file, flushes it and moves it over target in one step.
// Returns 0 or the system error.
DWORD replaceAtomically(const std::string& target, std::string_view bytes,
                        const std::string& stagingDir) {
  const std::string tmp = stagingName(target, stagingDir);
  const std::wstring wtmp = win::widen(tmp);
  // A fixed staging name may hold what a cut left: it is never needed, so it is replaced.
  if (!stagingDir.empty()) ::DeleteFileW(wtmp.c_str());
  DWORD err = 0;
  {
    win::Handle h(::CreateFileW(wtmp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!h.ok()) return ::GetLastError();
    if (!writeAll(h.get(), bytes) || !::FlushFileBuffers(h.get())) err = ::GetLastError();
    if (!h.close() && !err) err = ::GetLastError();
  }
  if (!err) err = moveReplacing(wtmp, win::widen(target));
  if (err) ::DeleteFileW(wtmp.c_str());
  return err;
}

FILETIME toFileTime(int64_t seconds) {
  const uint64_t ticks = static_cast<uint64_t>(seconds + 11644473600LL) * 10000000ULL;
  FILETIME ft;
  ft.dwLowDateTime = static_cast<DWORD>(ticks);
  ft.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  return ft;
}

int64_t fromFileTime(const FILETIME& ft) {
  const uint64_t ticks = (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
  return static_cast<int64_t>(ticks / 10000000ULL) - 11644473600LL;
}

bool sameNativeFile(const std::wstring& a, const std::wstring& b) {
  win::Handle ha(::CreateFileW(a.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  win::Handle hb(::CreateFileW(b.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!ha.ok() || !hb.ok()) return false;
  BY_HANDLE_FILE_INFORMATION ia{};
  BY_HANDLE_FILE_INFORMATION ib{};
  if (!::GetFileInformationByHandle(ha.get(), &ia) || !::GetFileInformationByHandle(hb.get(), &ib))
    return false;
  return ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber &&
         ia.nFileIndexHigh == ib.nFileIndexHigh && ia.nFileIndexLow == ib.nFileIndexLow;
}

}  // namespace

std::string driveCFolder() {
  const std::string v = win::env("TEFSYNC_DRIVE_C");
  return v.empty() ? std::string("C:\\") : stripTrailingSeps(v);
}

std::string nativePath(std::string_view path) {
  // The system's calls see a path up to its first NUL.
  path = path.substr(0, path.find('\0'));
  if (!isWindowsPath(path) || (path[0] != 'c' && path[0] != 'C')) return std::string(path);
  const std::string base = win::env("TEFSYNC_DRIVE_C");
  if (base.empty()) return std::string(path);
  // C: maps onto the stand-in folder; ".." never climbs above it.
  return detail::mapBelow(stripTrailingSeps(base), path.substr(2), '\\');
}

char separator() {
  return '\\';
}

bool fileExists(std::string_view path) {
  const DWORD a = attributesOf(path);
  return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

bool sameFile(std::string_view a, std::string_view b) {
  return sameNativeFile(wp(a), wp(b));
}

bool dirExists(std::string_view path) {
  const DWORD a = attributesOf(path);
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

bool deleteFile(std::string_view path) {
  if (!fileExists(path)) return false;
  beforeChange();
  const std::wstring w = wp(path);
  return withRetry([&] { return ::DeleteFileW(w.c_str()) != 0; }) == 0;
}

void copyFile(std::string_view from, std::string_view to) {
  const std::wstring src = wp(from);
  const std::wstring dst = wp(to);
  const auto fail = [&](DWORD err) -> void {
    throw FileError(FileAction::Copy, std::string(from), static_cast<int>(err), std::string(to));
  };
  const DWORD a = ::GetFileAttributesW(src.c_str());
  if (a == INVALID_FILE_ATTRIBUTES) fail(::GetLastError());
  if (a & FILE_ATTRIBUTE_DIRECTORY) fail(kIsAFolder);
  if (sameNativeFile(src, dst)) fail(static_cast<DWORD>(kSameFile));
  beforeChange();
  // CopyFileW keeps the source's last-write time and attributes.
  const DWORD err = withRetry([&] { return ::CopyFileW(src.c_str(), dst.c_str(), FALSE) != 0; });
  if (err) fail(err);
}

void copyFileAtomic(std::string_view from, std::string_view to, std::string_view stagingDir) {
  const std::string bytes = detail::readForCopy(from, to);
  beforeChange();
  const DWORD err = replaceAtomically(nativePath(to), bytes,
                                      stagingDir.empty() ? std::string() : nativePath(stagingDir));
  if (err)
    throw FileError(FileAction::Copy, std::string(from), static_cast<int>(err), std::string(to));
}

bool renameFile(std::string_view from, std::string_view to) {
  beforeChange();
  return moveReplacing(wp(from), wp(to)) == 0;
}

bool createDir(std::string_view path) {
  beforeChange();
  std::string p = stripTrailingSeps(nativePath(path));
  if (isWindowsPath(path) && (path[0] == 'c' || path[0] == 'C') &&
      !win::env("TEFSYNC_DRIVE_C").empty()) {
    // The stand-in for drive C: is made on first use, as drive C: always exists.
    const std::string drive = driveCFolder();
    if (!dirExists(drive)) {
      for (size_t i = 3; i <= drive.size(); ++i)
        if (i == drive.size() || isSep(drive[i]))
          ::CreateDirectoryW(win::widen(drive.substr(0, i)).c_str(), nullptr);
    }
  }
  return ::CreateDirectoryW(win::widen(p).c_str(), nullptr) != 0;
}

bool flushFile(std::string_view path) {
  // FlushFileBuffers needs a handle opened for writing.
  DWORD err = 0;
  win::Handle h = openFile(path, GENERIC_WRITE, OPEN_EXISTING, err);
  if (!h.ok()) return false;
  ::FlushFileBuffers(h.get());
  return true;
}

std::string readBytes(std::string_view path) {
  DWORD err = 0;
  const win::Handle h = openFile(path, GENERIC_READ, OPEN_EXISTING, err);
  if (!h.ok()) throw FileError(FileAction::Read, std::string(path), static_cast<int>(err));
  std::string out;
  if (!readAll(h.get(), out))
    throw FileError(FileAction::Read, std::string(path), static_cast<int>(::GetLastError()));
  return out;
}

void writeBytes(std::string_view path, std::string_view bytes) {
  beforeChange();
  DWORD err = 0;
  win::Handle h = openFile(path, GENERIC_WRITE, CREATE_ALWAYS, err);
  if (h.ok() && !writeAll(h.get(), bytes)) err = ::GetLastError();
  if (h.ok() && !h.close() && !err) err = ::GetLastError();
  if (err) throw FileError(FileAction::Write, std::string(path), static_cast<int>(err));
}

void writeBytesAtomic(std::string_view path, std::string_view bytes, bool ownerOnly,
                      std::string_view stagingDir) {
  // A file in the program's folder takes that folder's permissions on Windows.
  (void)ownerOnly;
  beforeChange();
  const DWORD err = replaceAtomically(nativePath(path), bytes,
                                      stagingDir.empty() ? std::string() : nativePath(stagingDir));
  if (err) throw FileError(FileAction::Write, std::string(path), static_cast<int>(err));
}

int64_t fileTime(std::string_view path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!::GetFileAttributesExW(wp(path).c_str(), GetFileExInfoStandard, &data)) return -1;
  return fromFileTime(data.ftLastWriteTime);
}

bool setFileTime(std::string_view path, int64_t seconds) {
  beforeChange();
  DWORD err = 0;
  const win::Handle h = openFile(path, FILE_WRITE_ATTRIBUTES, OPEN_EXISTING, err);
  if (!h.ok()) return false;
  const FILETIME ft = toFileTime(seconds);
  return ::SetFileTime(h.get(), nullptr, nullptr, &ft) != 0;
}

bool isReadOnlyFile(std::string_view path) {
  const DWORD a = attributesOf(path);
  return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY) &&
         (a & FILE_ATTRIBUTE_READONLY);
}

int fileAttributes(std::string_view path) {
  const DWORD a = attributesOf(path);
  return a == INVALID_FILE_ATTRIBUTES ? -1 : static_cast<int>(a);
}

bool setFileAttributes(std::string_view path, int attributes) {
  beforeChange();
  return ::SetFileAttributesW(wp(path).c_str(), static_cast<DWORD>(attributes)) != 0;
}

std::optional<detail::Cause> detail::causeOf(int err) {
  switch (static_cast<DWORD>(err)) {
    case ERROR_FILE_NOT_FOUND:
      return Cause::NotFound;
    case ERROR_PATH_NOT_FOUND:
      return Cause::FolderNotFound;
    case ERROR_DIRECTORY:
      return Cause::NotAFolder;
    case ERROR_ACCESS_DENIED:
      return Cause::AccessDenied;
    case kIsAFolder:
      return Cause::IsAFolder;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return Cause::DiskFull;
    case ERROR_WRITE_PROTECT:
      return Cause::ReadOnly;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return Cause::AlreadyExists;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return Cause::InUse;
    case ERROR_FILENAME_EXCED_RANGE:
      return Cause::NameTooLong;
    case ERROR_INVALID_NAME:
      return Cause::BadName;
    default:
      return std::nullopt;
  }
}

}  // namespace plat

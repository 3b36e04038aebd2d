#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/detail.h"
#include "platform/fs.h"

namespace plat {

namespace {

using detail::asciiLower;
using detail::beforeChange;

std::string envOr(const char* name) {
  const char* v = std::getenv(name);
  return v ? std::string(v) : std::string();
}

std::string stripTrailingSlashes(std::string p) {
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  return p;
}

std::string homeFolder() {
  std::string home = envOr("HOME");
  if (!home.empty()) return home;
  passwd pw{};
  passwd* result = nullptr;
  std::vector<char> buf(16384);
  if (::getpwuid_r(::getuid(), &pw, buf.data(), buf.size(), &result) == 0 && result &&
      result->pw_dir)
    return result->pw_dir;
  return "/";
}

bool statPath(const std::string& p, struct stat& st) {
  return ::stat(p.c_str(), &st) == 0;
}

bool nativeDirExists(const std::string& p) {
  struct stat st {};
  return statPath(p, st) && S_ISDIR(st.st_mode);
}

bool nativeEntryExists(const std::string& p) {
  struct stat st {};
  return ::lstat(p.c_str(), &st) == 0;
}

std::string driveFolder(char letter) {
  const std::string c = driveCFolder();
  if (asciiLower(letter) == 'c') return c;
  // Other drives sit beside drive_c, as in a Wine prefix.
  const auto slash = c.find_last_of('/');
  const std::string parent = (slash == std::string::npos || slash == 0) ? "/" : c.substr(0, slash);
  return stripTrailingSlashes(parent) + "/drive_" + std::string(1, asciiLower(letter));
}

// The name of an existing entry of dir that equals name without regard to ASCII case;
// the name itself when there is none. An exact match wins; otherwise the lowest name in
// byte order, so the choice is stable.
std::string resolveComponent(const std::string& dir, const std::string& name) {
  if (nativeEntryExists(dir + "/" + name)) return name;
  DIR* d = ::opendir(dir.c_str());
  if (!d) return name;
  std::string best;
  bool found = false;
  while (dirent* e = ::readdir(d)) {
    const std::string_view entry(e->d_name);
    if (entry == "." || entry == "..") continue;
    if (detail::equalsNoCase(entry, name) && (!found || entry < best)) {
      best = entry;
      found = true;
    }
  }
  ::closedir(d);
  return found ? best : name;
}

std::string np(std::string_view path) {
  return nativePath(path);
}

// An open file descriptor, closed on every path out.
class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  bool ok() const { return fd_ >= 0; }
  int get() const { return fd_; }
  // Closes now and reports the result (a deferred write error shows up here).
  int close() {
    const int r = ::close(fd_);
    fd_ = -1;
    return r;
  }

 private:
  int fd_;
};

bool writeAll(int fd, std::string_view bytes) {
  const char* p = bytes.data();
  size_t left = bytes.size();
  while (left > 0) {
    const ssize_t n = ::write(fd, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += n;
    left -= static_cast<size_t>(n);
  }
  return true;
}

// Reads to end of file; false on a read error.
bool readAll(int fd, std::string& out) {
  char buf[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) return true;
    out.append(buf, static_cast<size_t>(n));
  }
}

std::string parentOf(const std::string& p) {
  const auto slash = p.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return p.substr(0, slash);
}

void syncFolder(const std::string& dir) {
  const Fd fd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (fd.ok()) ::fsync(fd.get());
}

// A fresh name beside the target (nobody owns that folder's leftovers).
std::string stagingBeside(const std::string& target) {
  static std::atomic<unsigned> counter{0};
  const auto slash = target.find_last_of('/');
  const std::string dir = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
  return dir + "." + detail::baseName(target, detail::kAnySeparator) + ".tmp" +
         std::to_string(::getpid()) + "_" + std::to_string(counter.fetch_add(1));
}

// Writes bytes to a staging file (a fresh one beside target, or the fixed one in stagingDir)
// and renames it over target. shownPath names the file in an error.
void replaceAtomically(std::string_view shownPath, const std::string& target,
                       std::string_view bytes, bool ownerOnly, std::string_view stagingDir = {},
                       FileAction action = FileAction::Write, std::string_view shownSource = {}) {
  beforeChange();
  const std::string tmp =
      stagingDir.empty() ? stagingBeside(target) : np(stagingFileFor(shownPath, stagingDir));
  // A fixed staging name may hold what a cut left: it is never needed, so it is replaced.
  if (!stagingDir.empty()) ::unlink(tmp.c_str());
  const auto failWith = [&](int err) -> void {
    if (action == FileAction::Copy)
      throw FileError(action, std::string(shownSource), err, std::string(shownPath));
    throw FileError(action, std::string(shownPath), err);
  };
  Fd fd(::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, ownerOnly ? 0600 : 0666));
  if (!fd.ok()) failWith(errno);
  struct stat old {};
  int err = 0;
  if (ownerOnly) {
    if (::fchmod(fd.get(), 0600) != 0) err = errno;
  } else if (statPath(target, old) && S_ISREG(old.st_mode)) {
    ::fchmod(fd.get(), old.st_mode & 07777);  // the new file keeps the old one's permissions
  }
  if (!err && !writeAll(fd.get(), bytes)) err = errno;
  if (!err && ::fsync(fd.get()) != 0) err = errno;
  if (fd.close() != 0 && !err) err = errno;
  // The rename is a change of its own: a cut between it and the write leaves the staging file.
  if (!err) beforeChange();
  if (!err && ::rename(tmp.c_str(), target.c_str()) != 0) err = errno;
  if (err) {
    ::unlink(tmp.c_str());
    failWith(err);
  }
  syncFolder(parentOf(target));
}

}  // namespace

std::string driveCFolder() {
  std::string v = envOr("TEFSYNC_DRIVE_C");
  if (!v.empty()) return stripTrailingSlashes(v);
  v = envOr("WINEPREFIX");
  if (!v.empty()) return stripTrailingSlashes(v) + "/drive_c";
  return stripTrailingSlashes(homeFolder()) + "/.wine/drive_c";
}

std::string nativePath(std::string_view path) {
  // The system's calls see a path up to its first NUL; map only that, or a ".." behind the
  // NUL would survive the mapping and climb out of the drive.
  path = path.substr(0, path.find('\0'));
  if (!isWindowsPath(path)) return std::string(path);
  return detail::mapBelow(driveFolder(path[0]), path.substr(2), '/',
                          [](const std::string& dir, const std::string& name) {
                            return nativeDirExists(dir) ? resolveComponent(dir, name) : name;
                          });
}

char separator() {
  return '/';
}

bool fileExists(std::string_view path) {
  struct stat st {};
  return statPath(np(path), st) && !S_ISDIR(st.st_mode);
}

bool sameFile(std::string_view a, std::string_view b) {
  struct stat sa {};
  struct stat sb {};
  return statPath(np(a), sa) && statPath(np(b), sb) && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

bool dirExists(std::string_view path) {
  return nativeDirExists(np(path));
}

bool deleteFile(std::string_view path) {
  if (!fileExists(path)) return false;
  beforeChange();
  return ::unlink(np(path).c_str()) == 0;
}

void copyFile(std::string_view from, std::string_view to) {
  const std::string src = np(from);
  const std::string dst = np(to);
  const auto fail = [&](int err) -> void {
    throw FileError(FileAction::Copy, std::string(from), err, std::string(to));
  };
  Fd in(::open(src.c_str(), O_RDONLY | O_CLOEXEC));
  if (!in.ok()) fail(errno);
  struct stat sst {};
  struct stat dstSt {};
  if (::fstat(in.get(), &sst) != 0) fail(errno);
  if (S_ISDIR(sst.st_mode)) fail(EISDIR);
  // Copying a file onto itself would truncate it.
  if (statPath(dst, dstSt) && dstSt.st_dev == sst.st_dev && dstSt.st_ino == sst.st_ino)
    fail(kSameFile);
  std::string bytes;
  if (!readAll(in.get(), bytes)) fail(errno);
  beforeChange();
  Fd out(::open(dst.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
  if (!out.ok()) fail(errno);
  if (!writeAll(out.get(), bytes)) fail(errno);
  if (out.close() != 0) fail(errno);
  // The copy keeps the source's last-write time, as on Windows.
  const timespec times[2] = {{0, UTIME_OMIT}, sst.st_mtim};
  ::utimensat(AT_FDCWD, dst.c_str(), times, 0);
}

void copyFileAtomic(std::string_view from, std::string_view to, std::string_view stagingDir) {
  const std::string bytes = detail::readForCopy(from, to);
  replaceAtomically(to, np(to), bytes, false, stagingDir, FileAction::Copy, from);
}

bool renameFile(std::string_view from, std::string_view to) {
  beforeChange();
  return ::rename(np(from).c_str(), np(to).c_str()) == 0;
}

bool createDir(std::string_view path) {
  beforeChange();
  if (isWindowsPath(path)) {
    // Drive C: always exists on Windows; make its folder on first use here.
    const std::string drive = driveFolder(path[0]);
    if (!nativeDirExists(drive)) {
      for (size_t i = 1; i <= drive.size(); ++i)
        if (i == drive.size() || drive[i] == '/') ::mkdir(drive.substr(0, i).c_str(), 0777);
    }
  }
  std::string p = np(path);
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  return ::mkdir(p.c_str(), 0777) == 0;
}

bool flushFile(std::string_view path) {
  const Fd fd(::open(np(path).c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.ok()) return false;
  ::fsync(fd.get());
  return true;
}

std::string readBytes(std::string_view path) {
  const std::string p = np(path);
  const Fd fd(::open(p.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.ok()) throw FileError(FileAction::Read, std::string(path), errno);
  std::string out;
  if (!readAll(fd.get(), out)) throw FileError(FileAction::Read, std::string(path), errno);
  return out;
}

void writeBytes(std::string_view path, std::string_view bytes) {
  beforeChange();
  const std::string p = np(path);
  Fd fd(::open(p.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
  int err = fd.ok() ? 0 : errno;
  if (!err && !writeAll(fd.get(), bytes)) err = errno;
  if (!err && fd.close() != 0) err = errno;
  if (err) throw FileError(FileAction::Write, std::string(path), err);
}

void writeBytesAtomic(std::string_view path, std::string_view bytes, bool ownerOnly,
                      std::string_view stagingDir) {
  replaceAtomically(path, np(path), bytes, ownerOnly, stagingDir);
}

int64_t fileTime(std::string_view path) {
  struct stat st {};
  if (!statPath(np(path), st)) return -1;
  return static_cast<int64_t>(st.st_mtim.tv_sec);
}

bool setFileTime(std::string_view path, int64_t seconds) {
  beforeChange();
  const timespec times[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(seconds), 0}};
  return ::utimensat(AT_FDCWD, np(path).c_str(), times, 0) == 0;
}

bool isReadOnlyFile(std::string_view path) {
  const std::string p = np(path);
  struct stat st {};
  if (!statPath(p, st) || S_ISDIR(st.st_mode)) return false;
  // Without any write bit it is read-only even for root, as the attribute is on Windows.
  return (st.st_mode & 0222) == 0 || ::access(p.c_str(), W_OK) != 0;
}

int fileAttributes(std::string_view path) {
  struct stat st {};
  if (!statPath(np(path), st)) return -1;
  return static_cast<int>(st.st_mode & 07777);
}

bool setFileAttributes(std::string_view path, int attributes) {
  beforeChange();
  return ::chmod(np(path).c_str(), static_cast<mode_t>(attributes) & 07777) == 0;
}

std::optional<detail::Cause> detail::causeOf(int err) {
  switch (err) {
    case ENOENT:
      return Cause::NotFound;
    case ENOTDIR:
      return Cause::NotAFolder;
    case EACCES:
    case EPERM:
      return Cause::AccessDenied;
    case EISDIR:
      return Cause::IsAFolder;
    case ENOSPC:
    case EDQUOT:
      return Cause::DiskFull;
    case EROFS:
      return Cause::ReadOnly;
    case EEXIST:
      return Cause::AlreadyExists;
    case EBUSY:
    case ETXTBSY:
      return Cause::InUse;
    case ENAMETOOLONG:
      return Cause::NameTooLong;
    case EIO:
      return Cause::DiskIo;
    default:
      return std::nullopt;
  }
}

}  // namespace plat

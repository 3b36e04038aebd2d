// Files and the mapping of the system's fixed Windows paths.
//
// Every function takes a "system path": either a Windows path with a drive letter
// ("C:\CLIENT\REQ\INTPOS.001"), which is mapped onto the drive folder, or a native path,
// which is used as it is. Mapped components resolve without regard to ASCII case against
// what exists, as on Windows.
#pragma once

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace plat {

// What was being done when a file operation failed.
enum class FileAction { Read, Write, Copy, Move };

// A failed file operation: the file, what was done to it, and the system's error code
// (errno here, GetLastError() on Windows). what() is the operator's message, in Portuguese,
// e.g. "Arquivo C:\CLIENT\INTPOS.001 não pôde ser gravado: o caminho é uma pasta".
class FileError : public std::runtime_error {
 public:
  FileError(FileAction action, std::string path, int systemError, std::string target = {});

  FileAction action() const { return action_; }
  const std::string& path() const { return path_; }
  // The other file of a copy or move; empty otherwise.
  const std::string& target() const { return target_; }
  int systemError() const { return systemError_; }

 private:
  FileAction action_;
  std::string path_;
  std::string target_;
  int systemError_;
};

// Not a system error: a copy whose source and target are one file under two spellings.
inline constexpr int kSameFile = -1;

// The system's error code in a few words of Portuguese.
std::string systemErrorText(int systemError);

// Folder that stands for drive C: TEFSYNC_DRIVE_C, else $WINEPREFIX/drive_c, else
// $HOME/.wine/drive_c.
std::string driveCFolder();

bool isWindowsPath(std::string_view path);
// The native path for a system path (case-resolved against existing entries).
std::string nativePath(std::string_view path);
// The native folder separator.
char separator();

bool fileExists(std::string_view path);
// True when both name one existing file (under any spelling, or through links).
bool sameFile(std::string_view a, std::string_view b);
bool dirExists(std::string_view path);
// Deletes a file if it exists; true when it existed and is gone.
bool deleteFile(std::string_view path);
// Copies, overwriting the target; throws FileError on failure. Not atomic.
void copyFile(std::string_view from, std::string_view to);
// Copies through a staging file and one rename: the target is either the old file or the
// whole new one. The staging file is made in stagingDir (which must be on the target's
// volume) under the fixed name stagingFileFor gives, or beside the target under a fresh name
// when stagingDir is empty. Throws FileError on failure.
void copyFileAtomic(std::string_view from, std::string_view to, std::string_view stagingDir = {});
// The staging file a copy or write to target goes through in stagingDir: "." + the target's
// name + ".tmp". Fixed, so whoever owns stagingDir can remove what a cut left there without
// listing it; one writer per staging folder at a time.
std::string stagingFileFor(std::string_view target, std::string_view stagingDir);
// Renames within one volume, replacing an existing target; false on failure.
bool renameFile(std::string_view from, std::string_view to);
// Creates one folder level; false when it failed (callers ignore it).
bool createDir(std::string_view path);
// Flushes a file's data to disk; false when it could not be opened.
bool flushFile(std::string_view path);

// Whole-file access; throw FileError naming the file on failure.
std::string readBytes(std::string_view path);
void writeBytes(std::string_view path, std::string_view bytes);
// Writes a new file (beside the target, or in stagingDir as copyFileAtomic does), flushes it
// and renames it over the target.
void writeBytesAtomic(std::string_view path, std::string_view bytes, bool ownerOnly = false,
                      std::string_view stagingDir = {});

// Windows-1252 text files, UTF-8 in memory. Line ends are kept as they are.
std::string readText(std::string_view path);
void writeText(std::string_view path, std::string_view utf8);

// Last-write time as seconds since 1970 (UTC); -1 when missing.
int64_t fileTime(std::string_view path);
bool setFileTime(std::string_view path, int64_t seconds);

// True for an existing file that the system keeps from being written: the read-only
// attribute on Windows; on POSIX no write permission for anyone, or none for this process.
// A rename replaces such a file on POSIX, so a writer that must honour it asks first.
bool isReadOnlyFile(std::string_view path);

// The file's attributes as the platform keeps them (POSIX permission bits, Windows
// attribute flags), only for handing from one file to another; -1 when missing.
int fileAttributes(std::string_view path);
bool setFileAttributes(std::string_view path, int attributes);

// Test hook: called before every operation that changes the disk (crash-point tests).
void setFsOpHook(std::function<void()> hook);

}  // namespace plat

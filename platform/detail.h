// Routines the posix/ and win32/ sides of the platform layer share. None of them calls the
// system; only the platform layer's own files include this header.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace plat::detail {

// Both folder separators a Windows path may hold, and the only one a POSIX path has.
inline constexpr std::string_view kAnySeparator = "\\/";
inline constexpr std::string_view kPosixSeparator = "/";

bool isSep(char c);  // '\' or '/'
char asciiLower(char c);
std::string upperAscii(std::string s);
// Equal but for the case of ASCII letters.
bool equalsNoCase(std::string_view a, std::string_view b);
// s without its leading and trailing blanks and tabs.
std::string trimBlanks(const std::string& s);
// What follows the last of separators in path; all of path when it has none.
std::string baseName(std::string_view path, std::string_view separators);

// Runs the test hook set with setFsOpHook: called before every change to the disk.
void beforeChange();

// Maps the part of a Windows path after its drive onto base: empty components and "." drop
// out, ".." takes one back but never above base, the others are joined with sep, and a
// trailing separator stays. onDisk, when set, gives the name a component takes in the
// folder already mapped (its spelling on disk).
using NameOnDisk = std::function<std::string(const std::string& folder, const std::string& name)>;
std::string mapBelow(const std::string& base, std::string_view rest, char sep,
                     const NameOnDisk& onDisk = {});

// Throws HttpError for a request no client sends: a method other than GET and POST, or no URL.
void checkRequest(const std::string& method, const std::string& url);

// The bytes of a copy's source; a failure to read them is the copy's FileError.
std::string readForCopy(std::string_view from, std::string_view to);

// The causes of a failed file operation that have words of their own.
enum class Cause {
  NotFound,
  FolderNotFound,
  NotAFolder,
  AccessDenied,
  IsAFolder,
  DiskFull,
  ReadOnly,
  AlreadyExists,
  InUse,
  NameTooLong,
  DiskIo,
  BadName,
};
// The cause a system error code stands for, if it has words of its own (one side each).
std::optional<Cause> causeOf(int systemError);

}  // namespace plat::detail

// The part of the file routines that is the same on every system.
#include <functional>
#include <string>

#include "platform/detail.h"
#include "platform/encoding.h"
#include "platform/fs.h"

namespace plat {

namespace {

std::function<void()>& opHook() {
  static std::function<void()> hook;
  return hook;
}

}  // namespace

void detail::beforeChange() {
  if (opHook()) opHook()();
}

void setFsOpHook(std::function<void()> hook) {
  opHook() = std::move(hook);
}

std::string detail::readForCopy(std::string_view from, std::string_view to) {
  try {
    return readBytes(from);
  } catch (const FileError& e) {
    throw FileError(FileAction::Copy, std::string(from), e.systemError(), std::string(to));
  }
}

bool isWindowsPath(std::string_view path) {
  if (path.size() < 2 || path[1] != ':') return false;
  const char c = path[0];
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

std::string stagingFileFor(std::string_view target, std::string_view stagingDir) {
  std::string dir(stagingDir);
  if (!dir.empty() && !detail::isSep(dir.back())) dir += '\\';
  return dir + "." + detail::baseName(target, detail::kAnySeparator) + ".tmp";
}

std::string readText(std::string_view path) {
  return cp1252ToUtf8(readBytes(path));
}

void writeText(std::string_view path, std::string_view utf8) {
  writeBytes(path, utf8ToCp1252(utf8));
}

}  // namespace plat

// The mapping of Windows paths onto the drive folders: whatever the path, the native path
// stays inside the drive's folder (no ".." climbs out, also not through a NUL cut), and
// mapping is stable.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

#include "fuzz_support.h"
#include "platform/fs.h"

namespace {

std::string driveC;

// Lexical normal form of the path the operating system would see (cut at a NUL).
std::string seenByOs(const std::string& native) {
  const std::string cut = native.substr(0, native.find('\0'));
  return std::filesystem::path(cut).lexically_normal().string();
}

bool inside(const std::string& path, const std::string& folder) {
  return path == folder || path.rfind(folder + "/", 0) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  driveC = fuzzsupport::makeDriveC("paths");
  // A few entries to resolve against, in mixed case.
  std::filesystem::create_directories(driveC + "/Client/BKPINTPOS/Multi");
  std::filesystem::create_directories(driveC + "/drivezkt/TMP/tef_Sitef");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path(reinterpret_cast<const char*>(data), size);
  const std::string native = plat::nativePath(path);
  FUZZ_CHECK(plat::nativePath(path) == native, "mapping not stable");
  if (!plat::isWindowsPath(path)) {
    FUZZ_CHECK(native == path.substr(0, path.find('\0')), "native path changed");
    return 0;
  }
  const char letter = static_cast<char>(path[0] | 0x20);
  const std::string root =
      letter == 'c' ? driveC
                    : std::filesystem::path(driveC).parent_path().string() + "/drive_" + letter;
  const std::string seen = seenByOs(native);
  FUZZ_CHECK(inside(seen, root), "\"" + path + "\" maps outside its drive: " + seen);
  return 0;
}

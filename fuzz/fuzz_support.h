// Shared by the fuzz targets: a private drive C and a way to report a broken property.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

namespace fuzzsupport {

// A broken property is a finding: print it and abort so libFuzzer keeps the input.
[[noreturn]] inline void finding(const std::string& what) {
  std::string shown;
  for (unsigned char c : what) {
    if (c >= 0x20 && c < 0x7f) {
      shown += static_cast<char>(c);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02x", c);
      shown += hex;
    }
  }
  std::fprintf(stderr, "FUZZ FINDING: %s\n", shown.c_str());
  std::fflush(stderr);
  std::abort();
}

#define FUZZ_CHECK(cond, what)                                            \
  do {                                                                    \
    if (!(cond)) ::fuzzsupport::finding(std::string(#cond " - ") + what); \
  } while (0)

// Removes the folder when the fuzzer ends normally.
struct TempRoot {
  std::filesystem::path path;
  ~TempRoot() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
};

// A fresh folder standing for drive C, with the manager's folders, for the whole process.
inline std::string makeDriveC(const char* name) {
  namespace fs = std::filesystem;
  std::random_device rd;
  static TempRoot temp;
  temp.path = fs::temp_directory_path() / (std::string("tefsync_fuzz_") + name + "_" +
                                           std::to_string(rd()) + std::to_string(rd()));
  const fs::path& root = temp.path;
  fs::create_directories(root / "drive_c" / "Client" / "REQ");
  fs::create_directories(root / "drive_c" / "Client" / "RESP");
  fs::create_directories(root / "drive_c" / "drivezkt");
  const std::string drive = (root / "drive_c").string();
  ::setenv("TEFSYNC_DRIVE_C", drive.c_str(), 1);
  return drive;
}

}  // namespace fuzzsupport

// A fresh temporary folder standing for drive C: for the lifetime of a test.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "tests/support/test_env.h"

class TempDrive {
 public:
  TempDrive() {
    std::random_device rd;
    root_ = testsupport::tempRoot() /
            ("tefsync_test_" + std::to_string(rd()) + "_" + std::to_string(rd()));
    std::filesystem::create_directories(root_ / "drive_c");
    const char* old = std::getenv("TEFSYNC_DRIVE_C");
    hadOld_ = old != nullptr;
    if (old) old_ = old;
    testsupport::setEnv("TEFSYNC_DRIVE_C", drive());
  }
  ~TempDrive() {
    testsupport::setEnv("TEFSYNC_DRIVE_C", hadOld_ ? old_.c_str() : nullptr);
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
  }
  TempDrive(const TempDrive&) = delete;
  TempDrive& operator=(const TempDrive&) = delete;

  std::string root() const { return root_.string(); }
  std::string drive() const { return (root_ / "drive_c").string(); }
  // Native path of a relative path under the drive folder.
  std::string at(const std::string& rel) const { return drive() + "/" + rel; }

  static void put(const std::string& nativePath, const std::string& bytes) {
    std::filesystem::create_directories(std::filesystem::path(nativePath).parent_path());
    std::ofstream(nativePath, std::ios::binary) << bytes;
  }
  static std::string get(const std::string& nativePath) {
    std::ifstream in(nativePath, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

 private:
  std::filesystem::path root_;
  bool hadOld_ = false;
  std::string old_;
};

// Setting environment variables from tests on both systems (Windows has no setenv).
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>

namespace testsupport {

// Sets name to value, or removes it when value is null.
inline void setEnv(const char* name, const char* value) {
#ifdef _WIN32
  // An empty value removes the variable on Windows.
  ::_putenv_s(name, value ? value : "");
#else
  if (value)
    ::setenv(name, value, 1);
  else
    ::unsetenv(name);
#endif
}

inline void setEnv(const char* name, const std::string& value) {
  setEnv(name, value.c_str());
}

// Where tests make their folders. On Windows drive C: is the shop's drive, which tests move
// onto TEFSYNC_DRIVE_C, so their own folders must lie on another drive: TEFSYNC_TEST_TMP
// names one (under Wine, a folder of Z:).
inline std::filesystem::path tempRoot() {
  if (const char* t = std::getenv("TEFSYNC_TEST_TMP"); t && *t) return t;
  return std::filesystem::temp_directory_path();
}

}  // namespace testsupport

// The lock one process holds on a file: a second taker is refused, a process that ends in any
// way frees it, and a file that cannot be made is an error, not a lock held by someone.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/child.h"
#include "platform/fs.h"
#include "platform/lock.h"
#include "temp_drive.h"

namespace {

using Result = plat::FileLock::Result;

constexpr const char* kLockFile = "C:\\CLIENT\\BKPINTPOS\\teste.lock";
constexpr const char* kChildVar = "TEFSYNC_TEST_LOCK_CHILD";

std::unique_ptr<plat::FileLock> take(Result& r, std::string& error) {
  return plat::FileLock::tryTake(kLockFile, r, error);
}

// The child role: takes the lock and ends at once, with 0 when it held it, 1 when refused.
[[maybe_unused]] const bool kChild = [] {
  const char* v = std::getenv(kChildVar);
  if (!v || !*v) return false;
  Result r{};
  std::string error;
  auto lock = take(r, error);
  plat::exitNow(r == Result::Taken ? 0 : 1);  // no unwinding: as a forced end leaves it
}();

TEST(FileLock, OneHolderAtATimeAndFreedAtAnyEnd) {
  TempDrive d;
  std::filesystem::create_directories(d.at("CLIENT/BKPINTPOS"));
  const plat::EnvVars env = {{"TEFSYNC_DRIVE_C", d.drive()}, {kChildVar, "1"}};
  Result r{};
  std::string error;
  {
    auto first = take(r, error);
    ASSERT_EQ(r, Result::Taken) << error;
    ASSERT_TRUE(first);
    // A second taker in this process and in another one is refused, without an error.
    auto second = take(r, error);
    EXPECT_EQ(r, Result::Held);
    EXPECT_FALSE(second);
    EXPECT_EQ(error, "");
    EXPECT_EQ(plat::runSelf({"--gtest_filter=None"}, env), 1);
  }
  // Freed with its holder; a holder that ended without unwinding freed it too.
  EXPECT_EQ(plat::runSelf({"--gtest_filter=None"}, env), 0);
  auto again = take(r, error);
  EXPECT_EQ(r, Result::Taken) << error;
  EXPECT_TRUE(plat::fileExists(kLockFile));
}

TEST(FileLock, AFolderThatIsMissingIsAnErrorNamingTheFile) {
  TempDrive d;
  Result r{};
  std::string error;
  auto lock = take(r, error);
  EXPECT_EQ(r, Result::Failed);
  EXPECT_FALSE(lock);
  EXPECT_NE(error.find(kLockFile), std::string::npos) << error;
}

}  // namespace

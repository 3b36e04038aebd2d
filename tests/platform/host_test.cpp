#include "platform/host.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

TEST(Host, ComputerNameIsAShortUpperCaseName) {
  const std::string name = plat::computerName();
  EXPECT_FALSE(name.empty());
  EXPECT_LE(name.size(), 15u);
  for (char c : name) {
    EXPECT_FALSE(c >= 'a' && c <= 'z') << name;
    EXPECT_NE(c, '.') << name;
  }
}

TEST(Host, ExecutablePathIsThisTestProgram) {
  const std::filesystem::path p = plat::executablePath();
  EXPECT_TRUE(p.is_absolute());
  EXPECT_EQ(p.stem(), "platform_tests");
  EXPECT_TRUE(std::filesystem::exists(p));
}

}  // namespace

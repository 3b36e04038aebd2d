#include "platform/child.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

namespace {

namespace fs = std::filesystem;

// The child's part: runs only when this program was started again by runSelf.
TEST(ChildRole, WritesWhatItWasGivenAndStopsDead) {
  const char* out = std::getenv("TEFSYNC_TEST_CHILD_OUT");
  if (!out) GTEST_SKIP() << "only as a child of RunSelf";
  std::string args;
  for (const auto& a : ::testing::internal::GetArgvs())
    if (a.rfind("--child-arg=", 0) == 0) args += a + "|";
  { std::ofstream(out, std::ios::binary) << args << std::getenv("TEFSYNC_TEST_CHILD_ENV"); }
  std::ofstream lost(std::string(out) + ".lost");
  lost << "buffered, never written";  // a power cut loses what was not written yet
  plat::exitNow(3);
}

TEST(RunSelf, RunsThisProgramAgainWithArgumentsAndEnvironment) {
  const fs::path dir =
      fs::temp_directory_path() / ("tefsync_child_" + std::to_string(std::random_device()()));
  fs::create_directories(dir);
  const std::string out = (dir / "out.txt").string();
  const std::string tricky = "a b \"c\" d\\ e\\\\";
  const int status =
      plat::runSelf({"--gtest_filter=ChildRole.*", "--child-arg=" + tricky, "--child-arg="},
                    {{"TEFSYNC_TEST_CHILD_OUT", out}, {"TEFSYNC_TEST_CHILD_ENV", "x y=z"}});
  EXPECT_EQ(status, 3);
  std::ifstream in(out, std::ios::binary);
  const std::string got((std::istreambuf_iterator<char>(in)), {});
  EXPECT_EQ(got, "--child-arg=" + tricky + "|--child-arg=|x y=z");
  EXPECT_EQ(fs::file_size(out + ".lost"), 0u);
  std::error_code ec;
  fs::remove_all(dir, ec);
}

}  // namespace

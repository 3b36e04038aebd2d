#include "platform/fs.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "tests/platform/temp_drive.h"

namespace fs = std::filesystem;

namespace {

class FsTest : public ::testing::Test {
 protected:
  TempDrive drive;
};

TEST_F(FsTest, WindowsPathsResolveCaseInsensitivelyAgainstExistingFolders) {
  fs::create_directories(drive.at("Client/BKPINTPOS/Multi"));
  TempDrive::put(drive.at("Client/RESP/IntPos.Sts"), "x");
  struct Case {
    const char* windows;
    std::string native;
  };
  const Case cases[] = {
      {"C:\\CLIENT\\BKPINTPOS\\", drive.at("Client/BKPINTPOS/")},
      {"C:\\Client\\bkpintpos", drive.at("Client/BKPINTPOS")},
      {"c:\\client\\bkpintpos\\multi\\INTPOS.001", drive.at("Client/BKPINTPOS/Multi/INTPOS.001")},
      {"C:\\CLIENT\\RESP\\INTPOS.STS", drive.at("Client/RESP/IntPos.Sts")},
      // What is missing keeps the program's case, and so does all below it.
      {"C:\\CLIENT\\REQ\\INTPOS.001", drive.at("Client/REQ/INTPOS.001")},
      {"c:\\drivezkt\\tmp\\tef_Sitef\\", drive.at("drivezkt/tmp/tef_Sitef/")},
      {"C:/Client//REQ/./x\\..\\y", drive.at("Client/REQ/y")},
      {"C:\\..\\..\\escape", drive.at("escape")},
      {"C:\\", drive.drive() + "/"},
  };
  for (const auto& c : cases) EXPECT_EQ(plat::nativePath(c.windows), c.native) << c.windows;
}

TEST_F(FsTest, APathEndsAtItsFirstNulAndNeverLeavesTheDrive) {
  using namespace std::string_literals;
  struct Case {
    std::string path;
    std::string native;
  };
  const Case cases[] = {
      {"C:\\CLIENT\\..\0\\x"s, drive.drive()},
      {"C:C:\\..\\..\0\0\\.\\y"s, drive.drive()},
      {"C:\\x\0..\\..\\..\\etc"s, drive.at("x")},
      {"/tmp/a\0/../b"s, "/tmp/a"},
  };
  for (const auto& c : cases) EXPECT_EQ(plat::nativePath(c.path), c.native) << c.path;
}

TEST_F(FsTest, AnExactMatchWinsOverOtherCaseVariants) {
  fs::create_directories(drive.at("client"));
  fs::create_directories(drive.at("CLIENT"));
  fs::create_directories(drive.at("Client"));
  EXPECT_EQ(plat::nativePath("C:\\CLIENT"), drive.at("CLIENT"));
  EXPECT_EQ(plat::nativePath("C:\\cLiEnT"), drive.at("CLIENT"));  // lowest in byte order
}

TEST_F(FsTest, NativeAndRelativePathsPassThrough) {
  EXPECT_EQ(plat::nativePath("/opt/app/ping/test-ping.txt"), "/opt/app/ping/test-ping.txt");
  EXPECT_EQ(plat::nativePath("ping/x"), "ping/x");
  EXPECT_FALSE(plat::isWindowsPath("/C:/x"));
  EXPECT_FALSE(plat::isWindowsPath("1:\\x"));
  EXPECT_TRUE(plat::isWindowsPath("c:\\x"));
  EXPECT_EQ(plat::separator(), '/');
}

TEST(DriveFolder, FallsBackToWinePrefixThenHome) {
  struct Env {
    const char* name;
    const char* saved;
  };
  const std::string savedDrive =
      std::getenv("TEFSYNC_DRIVE_C") ? std::getenv("TEFSYNC_DRIVE_C") : "";
  const std::string savedWine = std::getenv("WINEPREFIX") ? std::getenv("WINEPREFIX") : "";
  const std::string savedHome = std::getenv("HOME") ? std::getenv("HOME") : "";
  struct Case {
    const char* driveC;
    const char* winePrefix;
    const char* home;
    const char* expected;
  };
  const Case cases[] = {
      {"/d/c/", "/w", "/h", "/d/c"},
      {nullptr, "/w/", "/h", "/w/drive_c"},
      {"", "/w", "/h", "/w/drive_c"},
      {nullptr, nullptr, "/h", "/h/.wine/drive_c"},
  };
  auto setOrUnset = [](const char* name, const char* v) {
    if (v)
      ::setenv(name, v, 1);
    else
      ::unsetenv(name);
  };
  for (const auto& c : cases) {
    setOrUnset("TEFSYNC_DRIVE_C", c.driveC);
    setOrUnset("WINEPREFIX", c.winePrefix);
    setOrUnset("HOME", c.home);
    EXPECT_EQ(plat::driveCFolder(), c.expected);
  }
  setOrUnset("TEFSYNC_DRIVE_C", "/d/drive_c");
  EXPECT_EQ(plat::nativePath("D:\\X"), "/d/drive_d/X");
  auto restore = [&](const char* name, const std::string& v) {
    setOrUnset(name, v.empty() ? nullptr : v.c_str());
  };
  restore("TEFSYNC_DRIVE_C", savedDrive);
  restore("WINEPREFIX", savedWine);
  restore("HOME", savedHome);
}

TEST_F(FsTest, CreateDirMakesOneLevelAndReportsFailures) {
  EXPECT_TRUE(plat::createDir("C:\\CLIENT\\"));
  EXPECT_TRUE(fs::is_directory(drive.at("CLIENT")));
  EXPECT_FALSE(plat::createDir("C:\\Client\\"));  // exists, in another case
  EXPECT_FALSE(plat::createDir("C:\\Missing\\Child\\"));
  EXPECT_TRUE(plat::createDir("C:\\client\\REQ"));
  EXPECT_TRUE(fs::is_directory(drive.at("CLIENT/REQ")));
  EXPECT_TRUE(plat::dirExists("c:\\Client\\req\\"));
  EXPECT_FALSE(plat::fileExists("C:\\CLIENT\\REQ"));
}

TEST_F(FsTest, CreateDirMakesAMissingDriveFolder) {
  fs::remove_all(drive.drive());
  EXPECT_TRUE(plat::createDir("C:\\CLIENT"));
  EXPECT_TRUE(fs::is_directory(drive.at("CLIENT")));
}

TEST_F(FsTest, CopyOverwritesAndKeepsTheSourceTime) {
  TempDrive::put(drive.at("a.txt"), "new content");
  TempDrive::put(drive.at("B.TXT"), "old and longer content");
  ASSERT_TRUE(plat::setFileTime("C:\\a.txt", 1700000000));
  EXPECT_TRUE(plat::copyFile("C:\\A.TXT", "C:\\b.txt"));
  EXPECT_EQ(TempDrive::get(drive.at("B.TXT")), "new content");
  EXPECT_EQ(plat::fileTime("C:\\b.txt"), 1700000000);
  EXPECT_FALSE(plat::copyFile("C:\\missing.txt", "C:\\b.txt"));
  EXPECT_EQ(TempDrive::get(drive.at("B.TXT")), "new content");
  EXPECT_FALSE(plat::copyFile("C:\\a.txt", "C:\\A.TXT"));  // the same file
  EXPECT_EQ(TempDrive::get(drive.at("a.txt")), "new content");
  EXPECT_FALSE(plat::copyFile("C:\\a.txt", "C:\\nofolder\\b.txt"));
}

TEST_F(FsTest, AtomicCopyReplacesWholeOrNothing) {
  TempDrive::put(drive.at("src"), "payload");
  EXPECT_TRUE(plat::copyFileAtomic("C:\\src", "C:\\dst"));
  EXPECT_EQ(TempDrive::get(drive.at("dst")), "payload");
  EXPECT_FALSE(plat::copyFileAtomic("C:\\none", "C:\\dst"));
  EXPECT_EQ(TempDrive::get(drive.at("dst")), "payload");
}

TEST_F(FsTest, DeleteTestsExistenceFirst) {
  TempDrive::put(drive.at("Client/x.txt"), "x");
  EXPECT_TRUE(plat::deleteFile("C:\\CLIENT\\X.TXT"));
  EXPECT_FALSE(fs::exists(drive.at("Client/x.txt")));
  EXPECT_FALSE(plat::deleteFile("C:\\CLIENT\\X.TXT"));
  EXPECT_FALSE(plat::deleteFile("C:\\CLIENT"));  // a folder is not a file
  EXPECT_TRUE(fs::is_directory(drive.at("Client")));
}

TEST_F(FsTest, RenameReplacesTheTarget) {
  TempDrive::put(drive.at("a"), "A");
  TempDrive::put(drive.at("b"), "B");
  EXPECT_TRUE(plat::renameFile("C:\\a", "C:\\B"));
  EXPECT_EQ(TempDrive::get(drive.at("b")), "A");
  EXPECT_FALSE(plat::renameFile("C:\\a", "C:\\c"));
}

TEST_F(FsTest, ReadAndWriteBytesNameTheFileOnFailure) {
  plat::writeBytes("C:\\f.bin", std::string("a\0b\r\n", 5));
  EXPECT_EQ(plat::readBytes("C:\\F.BIN"), std::string("a\0b\r\n", 5));
  EXPECT_TRUE(plat::flushFile("C:\\f.bin"));
  EXPECT_FALSE(plat::flushFile("C:\\none.bin"));
  try {
    plat::readBytes("C:\\none.bin");
    FAIL() << "no error";
  } catch (const plat::FileError& e) {
    EXPECT_NE(std::string(e.what()).find("C:\\none.bin"), std::string::npos) << e.what();
  }
  EXPECT_THROW(plat::writeBytes("C:\\no\\such\\f.bin", "x"), plat::FileError);
  EXPECT_THROW(plat::readBytes("C:\\"), plat::FileError);
}

TEST_F(FsTest, TextFilesAreWindows1252OnDisk) {
  plat::writeText("C:\\t.txt", "Ação\r\nR$ 5,00 €\r\n");
  EXPECT_EQ(TempDrive::get(drive.at("t.txt")), "A\xE7\xE3o\r\nR$ 5,00 \x80\r\n");
  EXPECT_EQ(plat::readText("C:\\T.TXT"), "Ação\r\nR$ 5,00 €\r\n");
  plat::writeText("C:\\u.txt", "日");
  EXPECT_EQ(TempDrive::get(drive.at("u.txt")), "?");
}

TEST_F(FsTest, AtomicWriteLeavesNoStagingFileAndSetsOwnerOnlyMode) {
  plat::writeBytesAtomic("C:\\conf.ini", "one", true);
  EXPECT_EQ(TempDrive::get(drive.at("conf.ini")), "one");
  EXPECT_EQ(fs::status(drive.at("conf.ini")).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
  fs::permissions(drive.at("conf.ini"), fs::perms::owner_all | fs::perms::group_read);
  plat::writeBytesAtomic("C:\\CONF.INI", "two");
  EXPECT_EQ(TempDrive::get(drive.at("conf.ini")), "two");
  // Replacing keeps the permissions the file had.
  EXPECT_EQ(fs::status(drive.at("conf.ini")).permissions() & fs::perms::all,
            fs::perms::owner_all | fs::perms::group_read);
  EXPECT_EQ(std::distance(fs::directory_iterator(drive.drive()), fs::directory_iterator()), 1);
}

TEST_F(FsTest, FailedAtomicWriteLeavesTheOldFileAndNoLeftovers) {
  // The target is a folder: the final rename fails after the staging file was written.
  fs::create_directories(drive.at("target/inner"));
  EXPECT_THROW(plat::writeBytesAtomic("C:\\target", "new"), plat::FileError);
  EXPECT_TRUE(fs::is_directory(drive.at("target/inner")));
  EXPECT_EQ(std::distance(fs::directory_iterator(drive.drive()), fs::directory_iterator()), 1);
  EXPECT_THROW(plat::writeBytesAtomic("C:\\nofolder\\x", "new"), plat::FileError);
}

TEST_F(FsTest, FileTimesAndAttributes) {
  EXPECT_EQ(plat::fileTime("C:\\none"), -1);
  EXPECT_EQ(plat::fileAttributes("C:\\none"), -1);
  EXPECT_FALSE(plat::setFileTime("C:\\none", 5));
  TempDrive::put(drive.at("f"), "");
  EXPECT_TRUE(plat::setFileTime("C:\\F", 1234567890));
  EXPECT_EQ(plat::fileTime("c:\\f"), 1234567890);
  EXPECT_TRUE(plat::setFileAttributes("C:\\f", 0640));
  EXPECT_EQ(plat::fileAttributes("C:\\f"), 0640);
}

}  // namespace

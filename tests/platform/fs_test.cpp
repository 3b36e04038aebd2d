#include "platform/fs.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "tests/platform/temp_drive.h"

namespace fs = std::filesystem;

namespace {

class FsTest : public ::testing::Test {
 protected:
  TempDrive drive;
};

// Linux: Windows paths map onto a drive folder, each component resolved without regard to
// case against what exists.
#ifndef _WIN32
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
  auto setOrUnset = [](const char* name, const char* v) { testsupport::setEnv(name, v); };
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
#else
// On Windows the file system itself ignores case; C: moves onto TEFSYNC_DRIVE_C only.
TEST_F(FsTest, DriveCMovesOntoTheStandInFolder) {
  using namespace std::string_literals;
  const std::string d = drive.drive();
  struct Case {
    std::string path;
    std::string native;
  };
  const Case cases[] = {
      {"C:\\CLIENT\\REQ\\INTPOS.001", d + "\\CLIENT\\REQ\\INTPOS.001"},
      {"c:/Client//REQ/./x\\..\\y\\", d + "\\Client\\REQ\\y\\"},
      {"C:\\..\\..\\escape", d + "\\escape"},
      {"C:\\x\0..\\..\\..\\windows"s, d + "\\x"},
      {"D:\\DADOS\\a.txt", "D:\\DADOS\\a.txt"},
      {"relative\\ping", "relative\\ping"},
  };
  for (const auto& c : cases) EXPECT_EQ(plat::nativePath(c.path), c.native) << c.path;
  EXPECT_EQ(plat::driveCFolder(), d);
  EXPECT_EQ(plat::separator(), '\\');
  testsupport::setEnv("TEFSYNC_DRIVE_C", nullptr);
  EXPECT_EQ(plat::nativePath("C:\\CLIENT\\REQ\\"), "C:\\CLIENT\\REQ\\");
  EXPECT_EQ(plat::driveCFolder(), "C:\\");
}
#endif

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
  plat::copyFile("C:\\A.TXT", "C:\\b.txt");
  EXPECT_EQ(TempDrive::get(drive.at("B.TXT")), "new content");
  EXPECT_EQ(plat::fileTime("C:\\b.txt"), 1700000000);
  EXPECT_THROW(plat::copyFile("C:\\missing.txt", "C:\\b.txt"), plat::FileError);
  EXPECT_EQ(TempDrive::get(drive.at("B.TXT")), "new content");
  EXPECT_THROW(plat::copyFile("C:\\a.txt", "C:\\A.TXT"), plat::FileError);  // the same file
  EXPECT_EQ(TempDrive::get(drive.at("a.txt")), "new content");
  EXPECT_THROW(plat::copyFile("C:\\a.txt", "C:\\nofolder\\b.txt"), plat::FileError);
}

TEST_F(FsTest, AtomicCopyReplacesWholeOrNothing) {
  TempDrive::put(drive.at("src"), "payload");
  TempDrive::put(drive.at("dst"), "old");
  fs::create_directories(drive.at("staging"));
  plat::copyFileAtomic("C:\\src", "C:\\dst");
  EXPECT_EQ(TempDrive::get(drive.at("dst")), "payload");
  EXPECT_THROW(plat::copyFileAtomic("C:\\none", "C:\\dst"), plat::FileError);
  EXPECT_EQ(TempDrive::get(drive.at("dst")), "payload");

  // Through a staging folder of the caller's: nothing stays behind there.
  TempDrive::put(drive.at("src"), "second");
  plat::copyFileAtomic("C:\\src", "C:\\dst", "C:\\staging");
  EXPECT_EQ(TempDrive::get(drive.at("dst")), "second");
  EXPECT_TRUE(fs::is_empty(drive.at("staging")));
  EXPECT_THROW(plat::copyFileAtomic("C:\\src", "C:\\dst", "C:\\nostaging"), plat::FileError);
  EXPECT_EQ(TempDrive::get(drive.at("dst")), "second");
  std::vector<std::string> left;
  for (const auto& e : fs::directory_iterator(drive.drive()))
    left.push_back(e.path().filename().string());
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{"dst", "src", "staging"})) << "no staging file left";
}

// An operator reads one sentence in Portuguese naming the file once, with the cause.
TEST_F(FsTest, FailuresAreWordedOnceWithThePathAndTheCause) {
  TempDrive::put(drive.at("a.txt"), "a");
  fs::create_directories(drive.at("CLIENT"));
  struct Case {
    std::function<void()> op;
    std::string path;
    std::string start;   // the sentence up to the cause
    std::string reason;  // the whole cause where both systems word it alike
  };
  const Case cases[] = {
      {[] { plat::readBytes("C:\\none.bin"); }, "C:\\none.bin",
       "Arquivo C:\\none.bin não pôde ser lido: ", ""},
      {[] { plat::writeBytes("C:\\no\\such\\f.bin", "x"); }, "C:\\no\\such\\f.bin",
       "Arquivo C:\\no\\such\\f.bin não pôde ser gravado: ", ""},
      {[] { plat::writeBytes("C:\\CLIENT", "x"); }, "C:\\CLIENT",
       "Arquivo C:\\CLIENT não pôde ser gravado: ", ""},
      {[] { plat::writeBytesAtomic("C:\\nofolder\\x", "x"); }, "C:\\nofolder\\x",
       "Arquivo C:\\nofolder\\x não pôde ser gravado: ", ""},
      {[] { plat::copyFile("C:\\missing.txt", "C:\\b.txt"); }, "C:\\missing.txt",
       "Arquivo C:\\missing.txt não pôde ser copiado para C:\\b.txt: ", ""},
      {[] { plat::copyFile("C:\\a.txt", "C:\\A.TXT"); }, "C:\\a.txt",
       "Arquivo C:\\a.txt não pôde ser copiado para C:\\A.TXT: ",
       "origem e destino são o mesmo arquivo"},
      {[] { plat::copyFileAtomic("C:\\none", "C:\\dst"); }, "C:\\none",
       "Arquivo C:\\none não pôde ser copiado para C:\\dst: ", ""},
  };
  for (const auto& c : cases) {
    try {
      c.op();
      ADD_FAILURE() << "no error for " << c.path;
    } catch (const plat::FileError& e) {
      const std::string m = e.what();
      EXPECT_EQ(m.rfind(c.start, 0), 0u) << m;
      const std::string reason = m.substr(std::min(m.size(), c.start.size()));
      if (!c.reason.empty()) {
        EXPECT_EQ(reason, c.reason) << m;
      }
      EXPECT_FALSE(reason.empty()) << m;
      EXPECT_EQ(reason.find(c.path), std::string::npos) << "the path once: " << m;
      EXPECT_EQ(e.path(), c.path);
      for (const char* english : {"Cannot", "No such", "denied", "directory"})
        EXPECT_EQ(m.find(english), std::string::npos) << m;
    }
  }
}

// Each system error the operator may meet has its own words, the same on both systems.
TEST(SystemErrorText, NamesEachCauseInPortuguese) {
  struct Case {
    int code;
    const char* text;
  };
#ifndef _WIN32
  const Case cases[] = {
      {ENOENT, "o arquivo ou a pasta não existe"},
      {ENOTDIR, "uma parte do caminho não é uma pasta"},
      {EACCES, "acesso negado"},
      {EPERM, "acesso negado"},
      {EISDIR, "o caminho é uma pasta"},
      {ENOSPC, "disco cheio"},
      {EDQUOT, "disco cheio"},
      {EROFS, "disco somente para leitura"},
      {EEXIST, "o arquivo já existe"},
      {EBUSY, "o arquivo está em uso"},
      {ETXTBSY, "o arquivo está em uso"},
      {ENAMETOOLONG, "nome longo demais"},
      {EIO, "erro de entrada e saída no disco"},
      {EXDEV, "erro do sistema 18"},
  };
#else
  // The codes GetLastError gives, by number.
  const Case cases[] = {
      {2, "o arquivo ou a pasta não existe"},         // ERROR_FILE_NOT_FOUND
      {3, "a pasta não existe"},                      // ERROR_PATH_NOT_FOUND
      {267, "uma parte do caminho não é uma pasta"},  // ERROR_DIRECTORY
      {5, "acesso negado"},                           // ERROR_ACCESS_DENIED
      {336, "o caminho é uma pasta"},                 // ERROR_DIRECTORY_NOT_SUPPORTED
      {112, "disco cheio"},                           // ERROR_DISK_FULL
      {39, "disco cheio"},                            // ERROR_HANDLE_DISK_FULL
      {19, "disco somente para leitura"},             // ERROR_WRITE_PROTECT
      {80, "o arquivo já existe"},                    // ERROR_FILE_EXISTS
      {183, "o arquivo já existe"},                   // ERROR_ALREADY_EXISTS
      {32, "o arquivo está em uso"},                  // ERROR_SHARING_VIOLATION
      {33, "o arquivo está em uso"},                  // ERROR_LOCK_VIOLATION
      {206, "nome longo demais"},                     // ERROR_FILENAME_EXCED_RANGE
      {123, "nome de arquivo inválido"},              // ERROR_INVALID_NAME
      {17, "erro do sistema 17"},                     // ERROR_NOT_SAME_DEVICE
  };
#endif
  for (const auto& c : cases) EXPECT_EQ(plat::systemErrorText(c.code), c.text) << c.code;
  EXPECT_EQ(plat::systemErrorText(-7), "erro do sistema -7");
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
#ifndef _WIN32  // on Windows the file takes its folder's permissions
  EXPECT_EQ(fs::status(drive.at("conf.ini")).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
  fs::permissions(drive.at("conf.ini"), fs::perms::owner_all | fs::perms::group_read);
#endif
  plat::writeBytesAtomic("C:\\CONF.INI", "two");
  EXPECT_EQ(TempDrive::get(drive.at("conf.ini")), "two");
#ifndef _WIN32
  // Replacing keeps the permissions the file had.
  EXPECT_EQ(fs::status(drive.at("conf.ini")).permissions() & fs::perms::all,
            fs::perms::owner_all | fs::perms::group_read);
#endif
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
#ifdef _WIN32
  const int attributes = 0x21;  // read-only and archive
#else
  const int attributes = 0640;
#endif
  const int before = plat::fileAttributes("C:\\f");
  EXPECT_TRUE(plat::setFileAttributes("C:\\f", attributes));
  EXPECT_EQ(plat::fileAttributes("C:\\f"), attributes);
  EXPECT_TRUE(plat::setFileAttributes("C:\\f", before));  // so the folder can go
}

TEST_F(FsTest, AFileWithoutWritePermissionIsReadOnly) {
  EXPECT_FALSE(plat::isReadOnlyFile("C:\\none"));
  fs::create_directories(drive.at("folder"));
  EXPECT_FALSE(plat::isReadOnlyFile("C:\\folder"));
  TempDrive::put(drive.at("f"), "x");
  EXPECT_FALSE(plat::isReadOnlyFile("C:\\F"));
  const fs::perms write = fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
  fs::permissions(drive.at("f"), write, fs::perm_options::remove);
  EXPECT_TRUE(plat::isReadOnlyFile("C:\\F"));
  fs::permissions(drive.at("f"), fs::perms::owner_write, fs::perm_options::add);
  EXPECT_FALSE(plat::isReadOnlyFile("c:\\f"));
}

}  // namespace

#include "common/ini.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/fs.h"
#include "tests/platform/temp_drive.h"

namespace fs = std::filesystem;

namespace {

// A file as an operator might leave it after editing by hand (Windows-1252 bytes).
const std::string kHandEdited =
    "; settings of the synchronizer\r\n"
    "\r\n"
    "[Geral]\r\n"
    "token_velantra=not this one\r\n"
    "\r\n"
    "  [ conf ]  \r\n"
    "   Token_Velantra =  abc 123  \r\n"
    "URLBASE=\"https://api.example.com/api/\"\r\n"
    "quoted='x'\r\n"
    "halfquoted=\"x\r\n"
    "inner=a \"b\" c\r\n"
    ";idvelantra=99\r\n"
    "idvelantra=42\r\n"
    "IDVELANTRA=43\r\n"
    "empty=\r\n"
    "eq=a=b\r\n"
    "A\xC7\xC3O=acento\r\n"
    "noequals\r\n"
    "\r\n"
    "[CONF]\r\n"
    "second=ignored, the first section wins\r\n";

TEST(IniRead, ProfileStringSemantics) {
  struct Case {
    const char* section;
    const char* key;
    bool found;
    const char* expected;
  };
  const Case cases[] = {
      {"CONF", "TOKEN_VELANTRA", true, "abc 123"},
      {"conf", "token_velantra", true, "abc 123"},
      {"Geral", "TOKEN_VELANTRA", true, "not this one"},
      {"CONF", "URLBASE", true, "https://api.example.com/api/"},
      {"CONF", "quoted", true, "x"},
      {"CONF", "halfquoted", true, "\"x"},
      {"CONF", "inner", true, "a \"b\" c"},
      {"CONF", "idvelantra", true, "42"},
      {"CONF", "empty", true, ""},
      {"CONF", "eq", true, "a=b"},
      {"CONF", "A\xC7\xC3O", true, "acento"},
      {"CONF", "a\xE7\xE3o", false, ""},  // only ASCII letters fold
      {"CONF", "noequals", false, ""},
      {"CONF", "second", false, ""},
      {"CONF", "missing", false, ""},
      {"NONE", "idvelantra", false, ""},
  };
  for (const auto& c : cases) {
    bool found = true;
    EXPECT_EQ(zkt::iniRead(kHandEdited, c.section, c.key, found), c.expected) << c.key;
    EXPECT_EQ(found, c.found) << c.key;
  }
}

TEST(IniRead, AcceptsBareLineFeedsAndNoFinalLineBreak) {
  bool found = false;
  EXPECT_EQ(zkt::iniRead("[a]\nk=1\n[b]\nk=2", "b", "k", found), "2");
  EXPECT_TRUE(found);
}

TEST(IniWrite, ChangesOnlyWhatItMust) {
  struct Case {
    const char* name;
    std::string before;
    const char* section;
    const char* key;
    const char* value;
    std::string after;
  };
  const Case cases[] = {
      {"replace in place, other bytes kept", "; c\r\n[CONF]\r\n  Key = old  \r\nz=1\r\n", "conf",
       "KEY", "new", "; c\r\n[CONF]\r\nKEY=new\r\nz=1\r\n"},
      {"first duplicate is the one replaced", "[S]\r\nk=1\r\nk=2\r\n", "S", "k", "3",
       "[S]\r\nk=3\r\nk=2\r\n"},
      {"new key after the last line of its section", "[A]\r\nx=1\r\n\r\n[B]\r\ny=2\r\n", "A", "n",
       "v", "[A]\r\nx=1\r\nn=v\r\n\r\n[B]\r\ny=2\r\n"},
      {"new key in an empty section at the end without a line break", "[A]", "a", "k", "v",
       "[A]\r\nk=v\r\n"},
      {"new section at the end of the file", "[A]\r\nx=1", "B", "k", "v",
       "[A]\r\nx=1\r\n[B]\r\nk=v\r\n"},
      {"line feeds stay line feeds", "[A]\nx=1\n", "A", "y", "2", "[A]\nx=1\ny=2\n"},
      {"empty file", "", "CONF", "timerApi", "10", "[CONF]\r\ntimerApi=10\r\n"},
      {"value written as given", "[A]\r\n", "A", "k", " spaced ", "[A]\r\nk= spaced \r\n"},
      {"commented key is not the key", "[A]\r\n;k=1\r\n", "A", "k", "2", "[A]\r\n;k=1\r\nk=2\r\n"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(zkt::iniWrite(c.before, c.section, c.key, c.value), c.after) << c.name;
}

TEST(IniWrite, RefusesWhatTheFormatCannotHold) {
  struct Case {
    const char* section;
    const char* key;
    const char* value;
  };
  const Case cases[] = {
      {"A", "k", "two\r\nlines"}, {"A", "k", "line\n"}, {"A", "k=x", "v"},
      {"A]", "k", "v"},           {"", "k", "v"},       {"A", "  ", "v"},
      {"A", ";k", "v"},
  };
  for (const auto& c : cases)
    EXPECT_THROW(zkt::iniWrite("[A]\r\n", c.section, c.key, c.value), zkt::IniError) << c.key;
}

class IniFileTest : public ::testing::Test {
 protected:
  TempDrive drive;
  std::string path = "C:\\APP\\configAPI_TEF.ini";
  void SetUp() override { fs::create_directories(drive.at("App")); }
  std::string onDisk() { return TempDrive::get(drive.at("App/configAPI_TEF.ini")); }
};

TEST_F(IniFileTest, MissingFileReadsEmptyAndAWriteCreatesItOwnerOnly) {
  zkt::IniFile ini(path);
  EXPECT_EQ(ini.ReadString("CONF", "URLBASE"), "");
  EXPECT_EQ(ini.ReadString("CONF", "URLBASE", "dflt"), "dflt");
  ini.WriteString("CONF", "URLBASE", "https://x/api/");
  EXPECT_EQ(onDisk(), "[CONF]\r\nURLBASE=https://x/api/\r\n");
#ifndef _WIN32  // on Windows a file takes its folder's permissions
  EXPECT_EQ(fs::status(drive.at("App/configAPI_TEF.ini")).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
#endif
  EXPECT_EQ(zkt::LerIni(path, "conf", "urlbase"), "https://x/api/");
}

TEST_F(IniFileTest, AccentedTextIsWindows1252OnDisk) {
  TempDrive::put(drive.at("App/configAPI_TEF.ini"), "[CONF]\r\nnome=Jo\xE3o\r\n");
  zkt::IniFile ini(path);
  EXPECT_EQ(ini.ReadString("CONF", "nome"), "João");
  zkt::GravarIni(path, "CONF", "cidade", "São Paulo €");
  EXPECT_EQ(onDisk(), "[CONF]\r\nnome=Jo\xE3o\r\ncidade=S\xE3o Paulo \x80\r\n");
  EXPECT_EQ(ini.ReadString("CONF", "cidade"), "São Paulo €");
}

TEST_F(IniFileTest, AWriteLeavesEveryOtherByteOfAHandEditedFile) {
  TempDrive::put(drive.at("App/configAPI_TEF.ini"), kHandEdited);
#ifndef _WIN32
  fs::permissions(drive.at("App/configAPI_TEF.ini"), fs::perms::owner_all | fs::perms::group_read);
#endif
  zkt::IniFile ini(path);
  ini.WriteString("conf", "IDVELANTRA", "7");
  std::string expected = kHandEdited;
  const std::string oldLine = "idvelantra=42\r\n";
  expected.replace(expected.find(oldLine), oldLine.size(), "IDVELANTRA=7\r\n");
  EXPECT_EQ(onDisk(), expected);
  EXPECT_EQ(ini.ReadString("CONF", "idvelantra"), "7");
#ifndef _WIN32
  // An existing file keeps its permissions.
  EXPECT_EQ(fs::status(drive.at("App/configAPI_TEF.ini")).permissions() & fs::perms::all,
            fs::perms::owner_all | fs::perms::group_read);
#endif
}

TEST_F(IniFileTest, AFailedReplaceLeavesTheOldFileWhole) {
  // Bad input is refused before anything is written.
  TempDrive::put(drive.at("App/configAPI_TEF.ini"), kHandEdited);
  zkt::IniFile ini(path);
  EXPECT_THROW(ini.WriteString("CONF", "k", "two\nlines"), zkt::IniError);
  EXPECT_EQ(onDisk(), kHandEdited);

  // The final rename fails (a folder holds the name): nothing is lost, nothing left over.
  zkt::IniFile inFolder("C:\\APP\\folder.ini");
  fs::create_directories(drive.at("App/folder.ini/child"));  // a folder stands in the way
  EXPECT_THROW(inFolder.WriteString("CONF", "k", "v"), plat::FileError);
  EXPECT_TRUE(fs::is_directory(drive.at("App/folder.ini/child")));
  // No staging file is left behind.
  EXPECT_EQ(std::distance(fs::directory_iterator(drive.at("App")), fs::directory_iterator()), 2);

  zkt::IniFile noFolder("C:\\NOPE\\x.ini");
  EXPECT_THROW(noFolder.WriteString("CONF", "k", "v"), plat::FileError);
  EXPECT_EQ(noFolder.ReadString("CONF", "k"), "");
}

}  // namespace

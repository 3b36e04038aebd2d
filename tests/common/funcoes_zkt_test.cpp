#include "common/funcoes_zkt.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "platform/fs.h"
#include "platform/host.h"
#include "tests/platform/temp_drive.h"

namespace fs = std::filesystem;

namespace {

TEST(StrZero, PadsCutsAndKeepsTheSign) {
  struct Case {
    long long codigo;
    int quantidade;
    const char* expected;
  };
  const Case cases[] = {
      {7, 2, "07"}, {2024, 4, "2024"}, {98765, 2, "65"}, {-5, 3, "0-5"},
      {5, 0, ""},   {5, -3, ""},       {0, 1, "0"},      {123, 6, "000123"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(zkt::StrZero(c.codigo, c.quantidade), c.expected) << c.codigo << "," << c.quantidade;
}

TEST(StringDelimitador, SplitsAtTheFirstOneCharacterDelimiter) {
  struct Case {
    const char* texto;
    const char* delimit;
    const char* oque;
    const char* expected;
  };
  const Case cases[] = {
      {"abc;def;g", ";", "inicio", "abc"},
      {"abc;def;g", ";", "resto", "def;g"},
      {";abc", ";", "inicio", ""},
      {";abc", ";", "resto", "abc"},
      {"abc;", ";", "inicio", "abc"},
      {"abc;", ";", "resto", ""},
      {"abc", ";", "inicio", "abc"},
      {"abc", ";", "resto", "abc"},
      {"a::b", "::", "inicio", "a::b"},
      {"a::b", "::", "resto", "a::b"},
      {"a;b", "", "inicio", "a;b"},
      {"a;b", "", "resto", "a;b"},
      {"a;b", ";", "INICIO", "a"},
      {"a;b", ";", "Resto", "b"},
      {"a;b", ";", "fim", ""},
      // Positions count characters: a multi-byte delimiter is one character.
      {"Ação§Dois", "§", "inicio", "Ação"},
      {"Ação§Dois", "§", "resto", "Dois"},
      {"", ";", "inicio", ""},
  };
  for (const auto& c : cases)
    EXPECT_EQ(zkt::StringDelimitador(c.texto, c.delimit, c.oque), c.expected)
        << c.texto << " | " << c.delimit << " | " << c.oque;
}

TEST(StringDelimitador, WalksADelimitedListUntilTheDelimiterIsGone) {
  std::string rest = "CRT;100,00;CARTDIGI";
  std::vector<std::string> fields;
  while (zkt::BuscaStringDelimitador(rest, ";") != rest) {
    fields.push_back(zkt::StringDelimitador(rest, ";", "Inicio"));
    rest = zkt::StringDelimitador(rest, ";", "Resto");
  }
  fields.push_back(rest);
  EXPECT_EQ(fields, (std::vector<std::string>{"CRT", "100,00", "CARTDIGI"}));
}

TEST(TrocaLetra, ReplacesOneCharacterByAnyText) {
  struct Case {
    const char* in;
    const char* atual;
    const char* nova;
    const char* expected;
  };
  const Case cases[] = {
      {"1.50", ".", ",", "1,50"},
      {"\"a\"b\"", "\"", "", "ab"},
      {"um\r\ndois", "\r", "\\r", "um\\r\ndois"},
      {"um\r\ndois", "\n", "\\n", "um\r\\ndois"},
      {"{x}", "{", "", "x}"},
      {"abab", "ab", "x", "abab"},
      {"abab", "", "x", "abab"},
      {"Maçã", "ç", "c", "Macã"},
      {"", ".", ",", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(zkt::TrocaLetra(c.in, c.atual, c.nova), c.expected) << c.in;
}

TEST(SomenteNumeros, KeepsOnlyDigits) {
  struct Case {
    const char* in;
    const char* expected;
  };
  const Case cases[] = {
      {"5.210/38-7", "5210387"}, {"56,78", "5678"}, {"abc", ""}, {"", ""}, {"١٢3", "3"},
  };
  for (const auto& c : cases) EXPECT_EQ(zkt::somenteNumeros(c.in), c.expected) << c.in;
}

TEST(NumeroMes, PicksDayMonthOrYear) {
  const plat::DateTime dt{2024, 3, 7, 9, 5, 4, 0};
  struct Case {
    const char* oque;
    int expected;
  };
  const Case cases[] = {{"mes", 3},    {"MES", 3}, {"Mes", 3}, {"ano", 2024},
                        {"Ano", 2024}, {"", 7},    {"Dia", 7}, {"xyz", 7}};
  for (const auto& c : cases) EXPECT_EQ(zkt::NumeroMes(c.oque, dt), c.expected) << c.oque;
}

TEST(FormataData, EveryFormatWord) {
  const plat::DateTime dt{2024, 3, 7, 9, 5, 4, 0};
  struct Case {
    const char* formato;
    const char* expected;
  };
  const Case cases[] = {
      {"HHMMSS", "090504"},
      {"HH:MM:SS", "09:05:04"},
      {"HH:MM", "09:05"},
      {"HHMM", "0905"},
      {"MM:SS", "05:04"},
      {"AAAAMMDD", "20240307"},
      {"DDMMAAAA", "07032024"},
      {"DDMM", "0703"},
      {"AAMM", "2403"},
      {"AAAAMM", "202403"},
      {"MMDD", "0307"},
      {"DDMMAA", "070324"},
      {"MMAAAA", "032024"},
      {"DD/MM/AAAA", "07/03/2024"},
      {"DD/MM/AA", "07/03/24"},
      {"MM/DD/AAAA", "03/07/2024"},
      {"AAAA-MM-DD", "2024-03-07"},
      {"AAAA-DD-MM", "2024-07-03"},
      {"dd/mm/aaaa", "07/03/2024"},
      {"hh:mm:ss", "09:05:04"},
      {"YYYY-MM-DD", ""},
      {"", ""},
      {" HHMMSS", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(zkt::Formata_Data(c.formato, dt), c.expected) << c.formato;
    EXPECT_EQ(zkt::Formata_Data(c.formato, dt, zkt::Programa::Guardian), c.expected) << c.formato;
  }
}

TEST(FormataData, TheGuardianKnowsTwoMoreWords) {
  const plat::DateTime dt{2024, 3, 7, 9, 5, 4, 0};
  struct Case {
    const char* formato;
    const char* guardian;
  };
  const Case cases[] = {{"AAAA", "2024"}, {"dd-mm-aaaa", "07-03-2024"}};
  for (const auto& c : cases) {
    EXPECT_EQ(zkt::Formata_Data(c.formato, dt, zkt::Programa::Guardian), c.guardian);
    EXPECT_EQ(zkt::Formata_Data(c.formato, dt, zkt::Programa::Tefsync), "");
    EXPECT_EQ(zkt::Formata_Data(c.formato, dt), "");
  }
}

TEST(FormataData, YearsAndTimesAtTheEdges) {
  struct Case {
    plat::DateTime dt;
    const char* formato;
    const char* expected;
  };
  const Case cases[] = {
      {{2005, 1, 2, 0, 0, 0, 0}, "DD/MM/AA", "02/01/05"},
      {{2005, 1, 2, 0, 0, 0, 0}, "AAMM", "0501"},
      {{987, 12, 31, 0, 0, 0, 0}, "AAAAMMDD", "09871231"},
      {{987, 12, 31, 0, 0, 0, 0}, "DDMMAA", "311287"},
      {{2024, 3, 7, 0, 0, 0, 0}, "HH:MM:SS", "00:00:00"},
      {{2024, 3, 7, 23, 59, 59, 999}, "HHMMSS", "235959"},
  };
  for (const auto& c : cases) EXPECT_EQ(zkt::Formata_Data(c.formato, c.dt), c.expected);
}

TEST(Seconds, CountsTheTimeOfDayAndRestartsAtMidnight) {
  plat::VirtualClock vc({2024, 3, 7, 0, 0, 0, 0});
  plat::ScopedClock scoped(vc);
  struct Case {
    int h, m, s;
    int expected;
  };
  const Case cases[] = {{0, 0, 0, 0}, {12, 0, 0, 43200}, {23, 59, 59, 86399}, {9, 5, 4, 32704}};
  for (const auto& c : cases) {
    vc.set({2024, 3, 7, c.h, c.m, c.s, 500});
    EXPECT_EQ(zkt::Seconds(), c.expected);
  }
  vc.set({2024, 3, 7, 23, 59, 59, 0});
  vc.advanceMs(1000);
  EXPECT_EQ(zkt::Seconds(), 0);
}

TEST(Delay, PausesThroughTheClock) {
  plat::VirtualClock vc;
  plat::ScopedClock scoped(vc);
  int during = 0;
  vc.addSleepHook([&](int64_t) { ++during; });
  zkt::Delay(0);
  EXPECT_EQ(vc.totalSleptMs(), 0);
  zkt::Delay(500);
  EXPECT_EQ(vc.totalSleptMs(), 500);
  zkt::Delay(-1);
  EXPECT_EQ(vc.totalSleptMs(), 500);
  EXPECT_EQ(during, 3);
}

TEST(AjustaContraBarra, EndsWithOneSeparator) {
  struct Case {
    const char* in;
    char sep;
    const char* expected;
  };
  const Case cases[] = {
      {"C:\\dir", '\\', "C:\\dir\\"}, {"C:\\dir\\", '\\', "C:\\dir\\"}, {"", '\\', "\\"},
      {"/opt/app", '/', "/opt/app/"}, {"/opt/app/", '/', "/opt/app/"},  {"D:", '\\', "D:\\"},
  };
  for (const auto& c : cases) EXPECT_EQ(zkt::AjustaContraBarra(c.in, c.sep), c.expected) << c.in;
  EXPECT_EQ(zkt::AjustaContraBarra("C:\\dir"), "C:\\dir\\");
}

TEST(PathDoExecutavel, IsTheTestProgramsFolderWithASeparator) {
  const std::string p = zkt::Path_Do_Executavel();
  ASSERT_FALSE(p.empty());
  EXPECT_EQ(p.back(), plat::separator());
  EXPECT_EQ(p + fs::path(plat::executablePath()).filename().string(), plat::executablePath());
}

TEST(NomeDoPc, IsTheHostNameAsWindowsWouldGiveIt) {
  const std::string n = zkt::Nome_do_pc();
  EXPECT_FALSE(n.empty());
  EXPECT_LE(n.size(), 15u);
}

TEST(SenhaDoDia, IsBuiltFromTheDate) {
  struct Case {
    plat::DateTime dt;
    const char* expected;
  };
  const Case cases[] = {
      {{2024, 3, 5, 10, 0, 0, 0}, "0508033224"},
      {{2099, 12, 31, 0, 0, 0, 0}, "3143124299"},  // 31+12=43, 31+12+99=142 -> "42"
      {{2000, 1, 1, 0, 0, 0, 0}, "0102010200"},
  };
  for (const auto& c : cases) EXPECT_EQ(zkt::Calcula_senha_do_dia("", c.dt, "CAIXA01"), c.expected);
}

TEST(SenhaDoDia, PropertiesOnAnyOtherComputer) {
  std::set<std::string> seen;
  plat::DateTime dt{2024, 1, 1, 0, 0, 0, 0};
  for (int i = 0; i < 400; ++i) {
    const std::string s = zkt::Calcula_senha_do_dia("", dt, "LOJA");
    ASSERT_EQ(s.size(), 10u);
    EXPECT_EQ(zkt::somenteNumeros(s), s);
    EXPECT_EQ(s.substr(0, 2), zkt::StrZero(dt.day, 2));
    EXPECT_EQ(s.substr(4, 2), zkt::StrZero(dt.month, 2));
    EXPECT_EQ(s.substr(8, 2), zkt::StrZero(dt.year % 100, 2));
    EXPECT_EQ(s, zkt::Calcula_senha_do_dia("outro", dt, "LOJA"));
    EXPECT_TRUE(seen.insert(s).second) << "repeated on a later day: " << s;
    dt = plat::civilFromSeconds(plat::localSeconds(dt) + 86400);
  }
}

TEST(SenhaDoDia, TheDeveloperComputerHasAFixedCode) {
  for (const char* name : {"QUADRIX", "quadrix", "Quadrix"})
    EXPECT_EQ(zkt::Calcula_senha_do_dia("", {2024, 3, 5, 0, 0, 0, 0}, name), "9073");
  EXPECT_NE(zkt::Calcula_senha_do_dia("", {2024, 3, 5, 0, 0, 0, 0}, "QUADRIX2"), "9073");
}

class CopyOneTest : public ::testing::Test {
 protected:
  TempDrive drive;
};

TEST_F(CopyOneTest, CopiesBytesTimeInTwoSecondStepsAndAttributes) {
  std::string big;
  for (int i = 0; i < 5000; ++i) big += static_cast<char>(i % 251);
  struct Case {
    std::string bytes;
    int64_t time;
    int64_t expectedTime;
    int mode;
  };
  // Attributes as each system keeps them: permission bits, or Windows flags (archive, and
  // read-only last so the copy can be replaced each time).
#ifdef _WIN32
  const int modes[] = {0x20, 0x20, 0x21};
#else
  const int modes[] = {0644, 0600, 0444};
#endif
  const Case cases[] = {
      {big, 1700000001, 1700000000, modes[0]},
      {big.substr(0, 2048), 1700000002, 1700000002, modes[1]},
      {"", 1600000003, 1600000002, modes[2]},
  };
  for (const auto& c : cases) {
    TempDrive::put(drive.at("CLIENT/RESP/INTPOS.001"), c.bytes);
    ASSERT_TRUE(plat::setFileTime("C:\\CLIENT\\RESP\\INTPOS.001", c.time));
    ASSERT_TRUE(plat::setFileAttributes("C:\\CLIENT\\RESP\\INTPOS.001", c.mode));
    plat::deleteFile("C:\\CLIENT\\copia.001");
    EXPECT_TRUE(zkt::CopyOne("C:\\Client\\Resp\\intpos.001", "C:\\CLIENT\\copia.001"));
    EXPECT_EQ(TempDrive::get(drive.at("CLIENT/copia.001")), c.bytes);
    EXPECT_EQ(plat::fileTime("C:\\CLIENT\\copia.001"), c.expectedTime);
    EXPECT_EQ(plat::fileAttributes("C:\\CLIENT\\copia.001"), c.mode);
  }
  for (const char* f : {"C:\\CLIENT\\RESP\\INTPOS.001", "C:\\CLIENT\\copia.001"})
    plat::setFileAttributes(f, modes[0]);  // so the folder can go
}

TEST_F(CopyOneTest, RefusesAndLeavesTheDestinationUntouched) {
  TempDrive::put(drive.at("src.txt"), "source");
  TempDrive::put(drive.at("dst.txt"), "destination");
  struct Case {
    const char* source;
    const char* dest;
  };
  const Case cases[] = {
      {"C:\\missing.txt", "C:\\dst.txt"},
      {"C:\\dst.txt", "C:\\dst.txt"},
      {"C:\\DST.TXT", "C:\\dst.txt"},  // the same file under another spelling
      {"C:\\", "C:\\dst.txt"},         // a folder is no source
  };
  for (const auto& c : cases) {
    EXPECT_FALSE(zkt::CopyOne(c.source, c.dest)) << c.source;
    EXPECT_EQ(TempDrive::get(drive.at("dst.txt")), "destination") << c.source;
  }
  EXPECT_FALSE(zkt::CopyOne("C:\\src.txt", "C:\\no\\folder\\dst.txt"));
}

}  // namespace

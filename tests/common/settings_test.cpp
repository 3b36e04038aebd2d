#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "common/ini.h"
#include "platform/fs.h"
#include "platform/host.h"
#include "tefsync/settings/TdtmAplicativo.h"
#include "tefsync/settings/TdtmConfig.h"
#include "tefsync/settings/TfrmConfig.h"
#include "tests/platform/temp_drive.h"

namespace fs = std::filesystem;
using tefsync::TfrmConfig;

namespace {

class SettingsTest : public ::testing::Test {
 protected:
  TempDrive drive;
  std::string native = drive.at("configAPI_TEF.ini");
  std::string path = "C:\\configAPI_TEF.ini";
  TfrmConfig cfg{path};

  void file(const std::string& bytes) { TempDrive::put(native, bytes); }
  std::string onDisk() { return TempDrive::get(native); }
};

TEST(SettingsFile, LivesBesideTheExecutableByDefault) {
  TfrmConfig cfg;
  const std::string exeDir = fs::path(plat::executablePath()).parent_path().string();
  EXPECT_EQ(cfg.ArquivoConfig(), exeDir + plat::separator() + "configAPI_TEF.ini");
}

TEST_F(SettingsTest, MissingFileGivesEmptyTextsZeroIdsOffAndTenSeconds) {
  cfg.token_velantra = "typed";
  cfg.chkTefSitef = true;
  cfg.LoadConfig();
  EXPECT_EQ(cfg.token_velantra, "");
  EXPECT_EQ(cfg.edtCnpjTEf, "");
  EXPECT_EQ(cfg.urlBase, "");
  EXPECT_EQ(cfg.idvelantraValue(), 0);
  EXPECT_EQ(cfg.IdCaixaValue(), 0);
  EXPECT_FALSE(cfg.chkTefSitef);
  EXPECT_FALSE(cfg.chkTefCielo);
  EXPECT_EQ(cfg.timerApi, "10");
  EXPECT_EQ(cfg.timerApiValue(), 10);
  EXPECT_FALSE(fs::exists(native));  // reading creates nothing
}

TEST_F(SettingsTest, LoadsEveryKeyOfSectionConf) {
  file(
      "[conf]\r\nTOKEN_VELANTRA=tok en\r\nedtcnpjtef=12.345.678/0001-90\r\nidvelantra=42\r\n"
      "IdCaixa=3\r\nURLBASE=https://api.velantra.example/api/\r\nchkTefSitef=SIM\r\n"
      "chkTefCielo=SIM\r\ntimerApi=30\r\n");
  cfg.LoadConfig();
  EXPECT_EQ(cfg.token_velantra, "tok en");
  EXPECT_EQ(cfg.edtCnpjTEf, "12.345.678/0001-90");
  EXPECT_EQ(cfg.idvelantraValue(), 42);
  EXPECT_EQ(cfg.IdCaixaValue(), 3);
  EXPECT_EQ(cfg.urlBase, "https://api.velantra.example/api/");
  EXPECT_TRUE(cfg.chkTefSitef);
  EXPECT_TRUE(cfg.chkTefCielo);
  EXPECT_EQ(cfg.timerApiValue(), 30);
}

TEST_F(SettingsTest, CheckBoxesAreOnOnlyForUpperCaseSim) {
  struct Case {
    const char* stored;
    bool on;
  };
  const Case cases[] = {{"SIM", true}, {"sim", false}, {"Sim", false}, {"NAO", false},
                        {"1", false},  {"", false},    {" SIM ", true}};
  for (const auto& c : cases) {
    file(std::string("[CONF]\r\nchkTefSitef=") + c.stored + "\r\nchkTefCielo=" + c.stored + "\r\n");
    cfg.LoadConfig();
    EXPECT_EQ(cfg.chkTefSitef, c.on) << c.stored;
    EXPECT_EQ(cfg.chkTefCielo, c.on) << c.stored;
  }
  file("[CONF]\r\nchkTefSitef=sim\r\n");
  cfg.LoadConfig();
  cfg.btnSalvarClick();
  EXPECT_EQ(zkt::LerIni(path, "CONF", "chkTefSitef"), "NAO");
}

TEST_F(SettingsTest, TimerPeriodFallsBackToTen) {
  struct Case {
    const char* line;
    const char* loaded;
  };
  const Case cases[] = {
      {"timerApi=0\r\n", "10"},   {"timerApi=\r\n", "10"},   {"", "10"},
      {"timerApi=abc\r\n", "10"}, {"timerApi=-5\r\n", "10"}, {"timerApi=15\r\n", "15"},
      {"timerApi= 7 \r\n", "7"}};
  for (const auto& c : cases) {
    file(std::string("[CONF]\r\n") + c.line);
    cfg.LoadConfig();
    EXPECT_EQ(cfg.timerApi, c.loaded) << c.line;
  }
  file("[CONF]\r\ntimerApi=0\r\n");
  cfg.LoadConfig();
  cfg.btnSalvarClick();
  EXPECT_EQ(zkt::LerIni(path, "CONF", "timerApi"), "10");
}

TEST(SettingsValues, WholeNumbersCountEmptyAndNonNumbersAsZero) {
  struct Case {
    const char* text;
    int value;
  };
  const Case cases[] = {
      {"", 0},    {"0", 0},   {"17", 17}, {" 17 ", 17},       {"+5", 5},
      {"-3", -3}, {"12a", 0}, {"1.5", 0}, {"99999999999", 0}, {"2147483647", 2147483647},
      {"a", 0}};
  for (const auto& c : cases) EXPECT_EQ(TfrmConfig::ValorInteiro(c.text), c.value) << c.text;
}

TEST_F(SettingsTest, SaveWritesTheEightKeysInOrderAsTypedAndCloses) {
  cfg.Show();
  ASSERT_TRUE(cfg.Visible());
  cfg.token_velantra = "Bearer-ish token";
  cfg.edtCnpjTEf = "12.345.678/0001-90";
  cfg.idvelantra = "42";
  cfg.IdCaixa = "0";
  cfg.urlBase = "not checked";
  cfg.chkTefSitef = true;
  cfg.chkTefCielo = false;
  cfg.timerApi = "20";
  cfg.btnSalvarClick();
  EXPECT_EQ(onDisk(),
            "[CONF]\r\nTOKEN_VELANTRA=Bearer-ish token\r\nedtCnpjTEf=12.345.678/0001-90\r\n"
            "idvelantra=42\r\nIdCaixa=0\r\nURLBASE=not checked\r\nchkTefSitef=SIM\r\n"
            "chkTefCielo=NAO\r\ntimerApi=20\r\n");
  EXPECT_FALSE(cfg.Visible());
  EXPECT_EQ(cfg.Resultado(), TfrmConfig::ModalResult::Ok);
  EXPECT_EQ(cfg.IdCaixaValue(), 0);  // every register
#ifndef _WIN32                       // on Windows a file takes its folder's permissions
  // The file holds the bearer token: owner only.
  EXPECT_EQ(fs::status(native).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
#endif
}

TEST_F(SettingsTest, SaveKeepsTheRestOfAHandEditedFile) {
  file("; loja 12\r\n[CONF]\r\nidvelantra=1\r\nextra=keep me\r\n\r\n[OUTRA]\r\nx=y\r\n");
  cfg.Show();
  cfg.idvelantra = "2";
  cfg.btnSalvarClick();
  EXPECT_EQ(onDisk(),
            "; loja 12\r\n[CONF]\r\nidvelantra=2\r\nextra=keep me\r\nTOKEN_VELANTRA=\r\n"
            "edtCnpjTEf=\r\nIdCaixa=\r\nURLBASE=\r\nchkTefSitef=NAO\r\nchkTefCielo=NAO\r\n"
            "timerApi=10\r\n\r\n[OUTRA]\r\nx=y\r\n");
}

TEST_F(SettingsTest, VoltarDropsTheEditsAndLeavesTheFile) {
  file("[CONF]\r\nURLBASE=https://a/api/\r\n");
  cfg.Show();
  EXPECT_EQ(cfg.urlBase, "https://a/api/");
  cfg.urlBase = "edited";
  cfg.btnsairClick();
  EXPECT_FALSE(cfg.Visible());
  EXPECT_EQ(cfg.Resultado(), TfrmConfig::ModalResult::Cancel);
  EXPECT_EQ(onDisk(), "[CONF]\r\nURLBASE=https://a/api/\r\n");
  EXPECT_EQ(cfg.urlBase, "https://a/api/");
}

TEST_F(SettingsTest, CancelarRestoresTheFileValuesAndStaysOpen) {
  file("[CONF]\r\nidvelantra=5\r\nchkTefSitef=SIM\r\n");
  cfg.Show();
  cfg.idvelantra = "6";
  cfg.chkTefSitef = false;
  cfg.btnCancelarClick();
  EXPECT_TRUE(cfg.Visible());
  EXPECT_EQ(cfg.idvelantra, "5");
  EXPECT_TRUE(cfg.chkTefSitef);
  EXPECT_EQ(onDisk(), "[CONF]\r\nidvelantra=5\r\nchkTefSitef=SIM\r\n");
}

TEST_F(SettingsTest, AFileChangedByOtherMeansCountsAtTheNextActivation) {
  file("[CONF]\r\nIdCaixa=1\r\n");
  cfg.LoadConfig();
  file("[CONF]\r\nIdCaixa=2\r\n");
  EXPECT_EQ(cfg.IdCaixaValue(), 1);
  cfg.FormActivate();
  EXPECT_EQ(cfg.IdCaixaValue(), 2);
}

TEST_F(SettingsTest, AFailedSaveKeepsTheDialogOpenTheFieldsAndTheFile) {
  struct Case {
    const char* name;
    std::function<void(TfrmConfig&)> edit;
    std::function<void()> breakTheFile;
  };
  const Case cases[] = {
      {"a line break cannot be stored", [](TfrmConfig& c) { c.token_velantra = "a\r\nb"; }, [] {}},
      {"the file's name is taken by a folder", [](TfrmConfig& c) { c.token_velantra = "t"; },
       [this] {
         fs::remove(native);
         fs::create_directories(native + "/x");
       }},
  };
  for (const auto& c : cases) {
    file("[CONF]\r\nTOKEN_VELANTRA=old\r\n");
    cfg.Show();
    c.edit(cfg);
    const std::string typed = cfg.token_velantra;
    c.breakTheFile();
    const std::string before = fs::is_regular_file(native) ? onDisk() : "";
    EXPECT_ANY_THROW(cfg.btnSalvarClick()) << c.name;
    EXPECT_TRUE(cfg.Visible()) << c.name;
    EXPECT_EQ(cfg.token_velantra, typed) << c.name;
    if (fs::is_regular_file(native)) {
      EXPECT_EQ(onDisk(), before) << c.name;
    }
    fs::remove_all(native);
  }
}

TEST(DataHolders, StartEmpty) {
  tefsync::TdtmConfig dtm;
  EXPECT_EQ(dtm.tblConfig.porta_com, "");
  EXPECT_EQ(tefsync::TdtmConfig::TblConfig::kLarguraPortaCom, 5u);
  tefsync::TdtmAplicativo app;
  EXPECT_FALSE(app.temTefSitef);
  EXPECT_FALSE(app.temTefDiscado);
  EXPECT_FALSE(app.temTefBanrisul);
  EXPECT_EQ(app.ModeloImpressora, 0);
  EXPECT_EQ(app.NomeImpressora, "");
}

}  // namespace

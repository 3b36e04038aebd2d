// The guardian's window shell on the offscreen platform, with the process functions
// replaced and the virtual clock in force.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <filesystem>

#include "pasta_temp.h"
#include "platform/clock.h"
#include "platform/lock.h"
#include "processos_contados.h"
#include "procguard/gui/JanelaGuardiao.h"

namespace {

class Janela : public testing::Test {
 protected:
  void configurar(const std::string& nomeEXE) {
    PastaTemp::gravar(pasta_.em("ConfigGuardian.ini"), "[CONFIG]\r\nnomeEXE=" + nomeEXE + "\r\n");
  }

  plat::VirtualClock relogio_;
  plat::ScopedClock escopo_{relogio_};
  PastaTemp pasta_;
  ProcessosContados processos_;
};

TEST_F(Janela, StartsHiddenWithItsCaptionsAndMenu) {
  configurar("tefsync.exe");
  procguard::JanelaGuardiao janela(processos_, pasta_.pasta(), "Procguard");
  EXPECT_FALSE(janela.tray().isVisible()) << "nothing of the start-up before Iniciar";
  janela.Iniciar();
  EXPECT_TRUE(janela.tray().isVisible());
  EXPECT_FALSE(janela.isVisible());
  EXPECT_EQ(janela.windowTitle(), "Guardian de Processos");
  EXPECT_EQ(janela.size(), QSize(414, 195));
  EXPECT_EQ(janela.btnReiniciarSinc()->text(), "Reiniciar sincronizador tefsync.exe");
  EXPECT_EQ(janela.btnEncerraSinc()->text(), "Encerrar sincronizador tefsync.exe");
  EXPECT_EQ(janela.tray().toolTip(), "Procguard");
  EXPECT_FALSE(janela.tray().icon().isNull());
  const auto acoes = janela.tray().contextMenu()->actions();
  ASSERT_EQ(acoes.size(), 3);
  EXPECT_EQ(acoes[0]->text(), "Restaurar programa");
  EXPECT_TRUE(acoes[1]->isSeparator());
  EXPECT_EQ(acoes[2]->text(), "Sair do sistema");
  EXPECT_EQ(processos_.vivos, 1);
  EXPECT_TRUE(janela.Timer1().isActive());
  EXPECT_EQ(janela.Timer1().interval(), 10000);
  EXPECT_FALSE(janela.Vez().isActive());
}

// While another guardian holds the folder: no tray icon, nothing started, no ping folder;
// the lock is tried every 5 s, and once it is free the start-up runs.
TEST_F(Janela, WaitsWithoutTrayIconWhileAnotherGuardianHoldsTheFolder) {
  configurar("tefsync.exe");
  plat::FileLock::Result r{};
  std::string erro;
  auto outro = plat::FileLock::tryTake(pasta_.em("procguard.lock"), r, erro);
  ASSERT_EQ(r, plat::FileLock::Result::Taken) << erro;
  procguard::JanelaGuardiao janela(processos_, pasta_.pasta(), "Procguard");
  janela.Iniciar();
  EXPECT_FALSE(janela.tray().isVisible());
  EXPECT_FALSE(janela.isVisible());
  EXPECT_EQ(janela.btnReiniciarSinc()->text(), "");
  EXPECT_EQ(processos_.vivos, 0);
  EXPECT_FALSE(janela.Timer1().isActive());
  EXPECT_TRUE(janela.Vez().isActive());
  EXPECT_EQ(janela.Vez().interval(), 5000);
  EXPECT_FALSE(std::filesystem::exists(pasta_.em("ping")));

  QMetaObject::invokeMethod(&janela.Vez(), "timeout");
  EXPECT_FALSE(janela.tray().isVisible()) << "still held";
  outro.reset();
  QMetaObject::invokeMethod(&janela.Vez(), "timeout");
  EXPECT_TRUE(janela.tray().isVisible());
  EXPECT_EQ(janela.btnReiniciarSinc()->text(), "Reiniciar sincronizador tefsync.exe");
  EXPECT_EQ(processos_.vivos, 1);
  EXPECT_TRUE(janela.Timer1().isActive());
  EXPECT_FALSE(janela.Vez().isActive());
}

TEST_F(Janela, RestoreShowsAndClosingOnlyHides) {
  configurar("tefsync.exe");
  procguard::JanelaGuardiao janela(processos_, pasta_.pasta(), "Procguard");
  janela.Iniciar();
  janela.restaura()->trigger();
  EXPECT_TRUE(janela.isVisible());
  EXPECT_FALSE(janela.close()) << "the close is refused";
  EXPECT_FALSE(janela.isVisible());
  EXPECT_EQ(processos_.encerramentos, 0);
}

TEST_F(Janela, ButtonsRestartAndEnd) {
  configurar("tefsync.exe");
  {
    procguard::JanelaGuardiao janela(processos_, pasta_.pasta(), "Procguard");
    janela.Iniciar();
    janela.btnReiniciarSinc()->click();
    EXPECT_EQ(processos_.encerramentos, 1);
    EXPECT_EQ(processos_.vivos, 1);
    int registros = 0;
    for (const auto& e : std::filesystem::directory_iterator(pasta_.em("ping"))) {
      registros += e.path().filename().string().rfind("Restart_em_", 0) == 0;
    }
    EXPECT_EQ(registros, 1);
    janela.btnEncerraSinc()->click();
    EXPECT_EQ(processos_.encerramentos, 2);
    EXPECT_EQ(processos_.vivos, 0);
  }
  EXPECT_EQ(processos_.encerramentos, 3) << "FormDestroy ends the synchronizer once more";
}

TEST_F(Janela, MissingNameShowsTheMessage) {
  QString texto;
  QTimer::singleShot(0, [&] {
    if (auto* caixa = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      texto = caixa->text();
      caixa->accept();
    }
  });
  procguard::JanelaGuardiao janela(processos_, pasta_.pasta(), "Procguard");
  janela.Iniciar();
  EXPECT_EQ(texto, "Nome do EXE nao configurado");
  EXPECT_EQ(janela.btnReiniciarSinc()->text(), "Reiniciar sincronizador ");
}

TEST_F(Janela, UnwritableFolderShowsTheErrorBox) {
  configurar("tefsync.exe");
  procguard::JanelaGuardiao janela(processos_, pasta_.pasta(), "Procguard");
  janela.Iniciar();
  std::filesystem::remove_all(pasta_.em("ping"));
  PastaTemp::gravar(pasta_.em("ping"), "");
  QString texto;
  QTimer::singleShot(0, [&] {
    if (auto* caixa = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      texto = caixa->text();
      caixa->accept();
    }
  });
  janela.btnReiniciarSinc()->click();
  EXPECT_TRUE(texto.contains("Restart_em_")) << texto.toStdString();
  EXPECT_EQ(processos_.encerramentos, 0) << "the restart stops at the record";
  EXPECT_EQ(processos_.vivos, 1);
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}

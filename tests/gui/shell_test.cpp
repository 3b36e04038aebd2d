// The tefsync Qt window on the offscreen platform: its widgets, texts and what each view
// method does on screen (timers, modal boxes, the grid), and that the window's events reach
// the shell logic. What the logic does with them is held by the shell logic's own tests.
// Virtual clock; drive C and the program's folder in a temporary folder; no network.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QInputDialog>
#include <QLabel>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <QValidator>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <sstream>

#include "platform/clock.h"
#include "platform/fs.h"
#include "platform/http.h"
#include "tefsync/gui/FrmPrincipal.h"
#include "tefsync/gui/desktop.h"
#include "tests/platform/temp_drive.h"
#include "tests/shell/shell_fixture.h"

namespace {

using tefsync::gui::FrmConfig;
using tefsync::gui::FrmPrincipal;

using shelltest::kCodeOfTheDay;
using shelltest::kToday;
using shelltest::NoNetwork;
using shelltest::UnexpectedFault;

// Runs `action` once inside the first modal window of type W that opens.
template <class W>
void onModal(QObject* context, std::function<void(W*)> action) {
  auto* poll = new QTimer(context);
  poll->setInterval(0);
  QObject::connect(poll, &QTimer::timeout, [poll, action] {
    if (auto* w = qobject_cast<W*>(QApplication::activeModalWidget())) {
      poll->stop();
      poll->deleteLater();
      action(w);
    }
  });
  poll->start();
}

// Lets the event loop run (zero-interval timers included) until the condition holds; no
// real-time pause.
bool spinUntil(const std::function<bool()>& condition) {
  for (int i = 0; i < 20000; ++i) {
    if (condition()) return true;
    QCoreApplication::processEvents(QEventLoop::AllEvents);
  }
  return condition();
}

class QtWindow : public testing::Test {
 public:
  QtWindow() {
    exeDir_ = drive_.root() + "/exe/";
    std::filesystem::create_directories(exeDir_);
    writeSettings("URLBASE=https://cloud.example/api/\r\nidvelantra=9\r\nIdCaixa=0\r\n");
  }
  ~QtWindow() override { window_.reset(); }

  void writeSettings(const std::string& lines) {
    TempDrive::put(settingsFile(), "[CONF]\r\n" + lines);
  }
  std::string settingsFile() const { return exeDir_ + "configAPI_TEF.ini"; }
  std::string settingsText() const { return TempDrive::get(settingsFile()); }

  FrmPrincipal& open(const std::string& computerName = "CAIXA01") {
    tefsync::TfrmPrincipal::Environment env;
    env.exeDir = exeDir_;
    env.computerName = computerName;
    env.makeHttp = [this](const std::string&) { return std::make_unique<NoNetwork>(&unexpected_); };
    window_.reset();
    window_ = std::make_unique<FrmPrincipal>(env, "Tefsync", out_, err_);
    svc_ = &window_->svc();
    // A real box nobody answers would stop the test: tests that expect one say so.
    realErrorBox_ = window_->errorBoxHook;
    realInputBox_ = window_->inputBoxHook;
    window_->inputBoxHook = [](QWidget*, const QString&, const QString&) {
      ADD_FAILURE() << "unexpected input box";
      return std::optional<QString>();
    };
    auto unexpected = [](QWidget*, const QString& message) {
      ADD_FAILURE() << "unexpected error box: " << message.toStdString();
    };
    window_->errorBoxHook = unexpected;
    window_->frmConfig().errorBox = unexpected;
    return *window_;
  }

  // The settings dialog through the access code; `inDialog` runs while it is open.
  void throughSettings(const std::function<void(FrmConfig*)>& inDialog) {
    window_->inputBoxHook = [](QWidget*, const QString&, const QString&) {
      return std::optional<QString>(kCodeOfTheDay);
    };
    bool opened = false;
    onModal<FrmConfig>(window_.get(), [&](FrmConfig* dialog) {
      opened = true;
      EXPECT_FALSE(window_->timerApi().isActive()) << "no poll while the dialog is open";
      inDialog(dialog);
      if (dialog->isVisible()) dialog->btnsair()->click();
    });
    window_->btnConfig()->click();
    ASSERT_TRUE(opened);
  }

  // Drops the guardian's test file and lets the event loop run until it is answered.
  bool heartbeatAnswered() {
    const std::string ping = svc_->pingFolder();
    TempDrive::put(ping + "test-ping.txt", "teste");
    clock_.advanceMs(20000);
    return spinUntil([&] {
      return !plat::fileExists(ping + "test-ping.txt") && plat::fileExists(ping + "resp-ping.txt");
    });
  }

  // The heartbeat ticks on every pass of the event loop.
  void fastHeartbeat() {
    svc_->timerPing.setInterval(0);
    window_->logic().syncTimers();
  }

  TempDrive drive_;
  plat::VirtualClock clock_{kToday};
  plat::ScopedClock scoped_{clock_};
  std::string exeDir_;
  bool unexpected_ = false;
  std::ostringstream out_, err_;
  tefsync::TfrmPrincipal* svc_ = nullptr;  // the window's
  std::unique_ptr<FrmPrincipal> window_;
  std::function<void(QWidget*, const QString&)> realErrorBox_;
  std::function<std::optional<QString>(QWidget*, const QString&, const QString&)> realInputBox_;
};

TEST_F(QtWindow, StartsInTheTrayWithItsControls) {
  FrmPrincipal& w = open();
  EXPECT_FALSE(w.isVisible());
  EXPECT_EQ(w.windowTitle().toStdString(), "API de Integracao TEF x Velantra - Versão 2021.801");
  EXPECT_EQ(w.size(), QSize(692, 571));
  EXPECT_EQ(w.tray().toolTip(), "Tefsync");
  EXPECT_FALSE(w.tray().icon().isNull());
  const auto actions = w.PopupMenu1().actions();
  ASSERT_EQ(actions.size(), 3);
  EXPECT_EQ(actions[0]->text(), "Restaurar programa - Norvanta");
  EXPECT_TRUE(actions[1]->isSeparator());
  EXPECT_EQ(actions[2]->text(), "Sair do sistema");
  EXPECT_EQ(w.tray().contextMenu(), &w.PopupMenu1());

  EXPECT_EQ(w.btnClose()->toolTip(), "Fecha sincronizador");
  EXPECT_FALSE(w.btnClose()->icon().isNull());
  EXPECT_EQ(w.btnConfig()->toolTip().toStdString(), "Configurações");
  EXPECT_EQ(w.SpeedButton1()->text(), "ADM - Sitef");
  EXPECT_EQ(w.SpeedButton1()->toolTip().toStdString(), "Configurações");
  EXPECT_EQ(w.btnguiaTeste()->text(), "Guia de testes");
  EXPECT_EQ(w.btnguiaTeste()->toolTip(), "Enviar vendas pedentes");

  const QAbstractItemModel* grid = w.GridList()->model();
  ASSERT_EQ(grid->columnCount(), 4);
  const char* const columns[] = {"Operacao", "Data", "Hora", "Mensagem"};
  for (int c = 0; c < 4; ++c) EXPECT_EQ(grid->headerData(c, Qt::Horizontal), columns[c]);
  EXPECT_EQ(w.page()->count(), 2);
  EXPECT_EQ(w.page()->tabText(0), "dados de envio");
  EXPECT_EQ(w.page()->tabText(1), "Guia de testes");

  EXPECT_TRUE(w.timerApi().isActive());
  EXPECT_EQ(w.timerApi().interval(), 1000);
  EXPECT_TRUE(w.timerPing().isActive());
  EXPECT_EQ(w.timerPing().interval(), 10000);
  EXPECT_TRUE(std::filesystem::is_directory(exeDir_ + "ping"));
}

TEST_F(QtWindow, TestGuideOnlyOnTheTestComputer) {
  struct Case {
    const char* computer;
    bool guide;
  } cases[] = {{"QUADRIX", true}, {"CAIXA01", false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.computer);
    FrmPrincipal& w = open(c.computer);
    EXPECT_EQ(w.btnguiaTeste()->isVisibleTo(&w), c.guide);
    EXPECT_FALSE(w.page()->isVisibleTo(&w));
    svc_->mmoRequest = "{\"id\":1}";
    svc_->mmoResult = "[200]\r\n";
    w.btnguiaTeste()->click();
    EXPECT_EQ(w.page()->isVisibleTo(&w), c.guide);
    EXPECT_EQ(w.buffer("mmoRequest")->toPlainText(), "{\"id\":1}");
    EXPECT_EQ(w.buffer("mmoResult")->toPlainText(), "[200]\n");
    w.btnguiaTeste()->click();
    EXPECT_FALSE(w.page()->isVisibleTo(&w));
    window_.reset();
  }
}

// The real box, and the poll timer stopped under it and running again afterwards.
TEST_F(QtWindow, TheRealInputBoxIsModalAndAnswered) {
  FrmPrincipal& w = open();
  w.inputBoxHook = realInputBox_;
  bool opened = false;
  onModal<QInputDialog>(&w, [&](QInputDialog* box) {
    EXPECT_FALSE(w.timerApi().isActive());
    EXPECT_TRUE(w.timerPing().isActive());
    EXPECT_TRUE(box->isModal());
    EXPECT_EQ(box->windowTitle(), "Senha do dia");
    EXPECT_EQ(box->labelText(), "Informe a senha do dia: 05/03/24");
    EXPECT_EQ(box->textValue(), "");
    box->setTextValue(kCodeOfTheDay);
    onModal<FrmConfig>(&w, [&](FrmConfig* dialog) {
      opened = true;
      dialog->btnsair()->click();
    });
    box->accept();
  });
  w.btnConfig()->click();
  EXPECT_TRUE(opened);
  EXPECT_TRUE(w.timerApi().isActive());
  EXPECT_EQ(w.timerApi().interval(), 1000);
}

TEST_F(QtWindow, SettingsDialogTexts) {
  open();
  throughSettings([](FrmConfig* d) {
    EXPECT_EQ(d->windowTitle().toStdString(), "Configuração de dados para  integração");
    EXPECT_EQ(d->size(), QSize(723, 352));
    EXPECT_EQ(d->btnsair()->toolTip(), "Voltar");
    EXPECT_EQ(d->btnSalvar()->toolTip(), "Salvar");
    EXPECT_EQ(d->btnCancelar()->toolTip(), "Cancelar");
    for (auto* b : {d->btnsair(), d->btnSalvar(), d->btnCancelar()})
      EXPECT_FALSE(b->icon().isNull());
    struct Label {
      const char* field;
      const char* text;
    } labels[] = {
        {"token_velantra", "Token Velantra ( Token Fixo ):"},
        {"edtCnpjTEf", "CNPJ do TEF:"},
        {"idvelantra", "Id Velantra:"},
        {"IdCaixa", "Id Caixa:"},
        {"urlBase", "URL Base:"},
        {"timerApi", "Timer API ( segundos )"},
    };
    for (const Label& l : labels) {
      auto* label = d->findChild<QLabel*>(QString("lbl_") + l.field);
      ASSERT_NE(label, nullptr) << l.field;
      EXPECT_EQ(label->text(), l.text);
      EXPECT_EQ(label->buddy(), d->findChild<QLineEdit*>(l.field));
    }
    auto* note = d->findChild<QLabel*>("lblNotaIdCaixa");
    ASSERT_NE(note, nullptr);
    EXPECT_EQ(note->text(), "Se Id Caixa for igual 0, funciona para todos, senao informar o ID...");
    EXPECT_EQ(d->chkTefSitef()->text(), "TEF Sitef");
    EXPECT_EQ(d->chkTefCielo()->text(), "TEF Cielo");
    // The fields show the file.
    EXPECT_EQ(d->urlBase()->text(), "https://cloud.example/api/");
    EXPECT_EQ(d->idvelantra()->text(), "9");
    EXPECT_EQ(d->timerApi()->text(), "10") << "a missing period reads as 10";
  });
}

TEST_F(QtWindow, WholeNumberFieldsTakeDigitsOnly) {
  open();
  throughSettings([](FrmConfig* d) {
    for (QLineEdit* e : {d->idvelantra(), d->IdCaixa(), d->timerApi()}) {
      SCOPED_TRACE(e->objectName().toStdString());
      e->clear();
      QTest::keyClicks(e, "4x-2.5 ");
      EXPECT_EQ(e->text(), "425");
      int pos = 0;
      for (QString bad : {"-1", "1.5", "12345678901", "1e3"})
        EXPECT_NE(e->validator()->validate(bad, pos), QValidator::Acceptable) << bad.toStdString();
    }
  });
}

TEST_F(QtWindow, SaveBackAndCancel) {
  struct Case {
    const char* name;
    std::function<void(FrmConfig*)> act;
    bool saved;
  } cases[] = {
      {"Salvar",
       [](FrmConfig* d) {
         d->btnSalvar()->click();
         EXPECT_FALSE(d->isVisible());
         EXPECT_EQ(d->result(), QDialog::Accepted);
       },
       true},
      {"Voltar",
       [](FrmConfig* d) {
         d->btnsair()->click();
         EXPECT_FALSE(d->isVisible());
       },
       false},
      {"Cancelar",
       [](FrmConfig* d) {
         d->btnCancelar()->click();
         EXPECT_TRUE(d->isVisible()) << "Cancelar keeps the dialog open";
         EXPECT_EQ(d->urlBase()->text(), "https://cloud.example/api/");
         EXPECT_EQ(d->IdCaixa()->text(), "0");
         EXPECT_FALSE(d->chkTefCielo()->isChecked());
       },
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    writeSettings("URLBASE=https://cloud.example/api/\r\nidvelantra=9\r\nIdCaixa=0\r\n");
    const std::string before = settingsText();
    open();
    throughSettings([&](FrmConfig* d) {
      d->urlBase()->setText("https://novo.example/api/");
      d->IdCaixa()->setText("4");
      d->chkTefCielo()->setChecked(true);
      c.act(d);
    });
    const std::string file = settingsText();
    tefsync::TfrmConfig& cfg = svc_->frmConfig();
    if (c.saved) {
      EXPECT_NE(file.find("URLBASE=https://novo.example/api/"), std::string::npos) << file;
      EXPECT_NE(file.find("IdCaixa=4"), std::string::npos) << file;
      EXPECT_NE(file.find("chkTefCielo=SIM"), std::string::npos) << file;
      EXPECT_NE(file.find("chkTefSitef=NAO"), std::string::npos) << file;
      EXPECT_NE(file.find("timerApi=10"), std::string::npos) << file;
      EXPECT_EQ(cfg.urlBase, "https://novo.example/api/");
      EXPECT_EQ(cfg.IdCaixaValue(), 4);
    } else {
      EXPECT_EQ(file, before) << "nothing written";
      EXPECT_EQ(cfg.urlBase, "https://cloud.example/api/") << "what was typed is gone";
      EXPECT_FALSE(cfg.chkTefCielo);
    }
    EXPECT_TRUE(window_->timerApi().isActive());
    window_.reset();
  }
}

TEST_F(QtWindow, SaveFailureKeepsWhatWasTyped) {
  open();
  QString shown;
  throughSettings([&](FrmConfig* d) {
    d->errorBox = [&](QWidget*, const QString& message) { shown = message; };
    d->urlBase()->setText("https://novo.example/api/");
    d->chkTefSitef()->setChecked(true);
    // A folder where the file should be: the file cannot be written.
    std::filesystem::remove(settingsFile());
    std::filesystem::create_directory(settingsFile());
    d->btnSalvar()->click();
    EXPECT_FALSE(shown.isEmpty()) << "the error is shown";
    EXPECT_TRUE(d->isVisible()) << "the dialog stays open";
    EXPECT_EQ(d->urlBase()->text(), "https://novo.example/api/");
    EXPECT_TRUE(d->chkTefSitef()->isChecked());
    std::filesystem::remove(settingsFile());
    d->btnsair()->click();
  });
  EXPECT_TRUE(window_->timerApi().isActive());
}

TEST_F(QtWindow, ActivationRereadsTheFileAndClosingHides) {
  FrmPrincipal& w = open();
  EXPECT_EQ(svc_->frmConfig().urlBase, "https://cloud.example/api/");
  writeSettings("URLBASE=https://outro.example/api/\r\n");
  QEvent activate(QEvent::WindowActivate);
  QApplication::sendEvent(&w, &activate);
  EXPECT_EQ(svc_->frmConfig().urlBase, "https://outro.example/api/");

  // A double click on the tray icon shows the window and reads the file again.
  writeSettings("URLBASE=https://terceiro.example/api/\r\nchkTefSitef=SIM\r\n");
  emit w.tray().activated(QSystemTrayIcon::DoubleClick);
  EXPECT_TRUE(w.isVisible());
  EXPECT_EQ(svc_->frmConfig().urlBase, "https://terceiro.example/api/");
  EXPECT_TRUE(svc_->frmConfig().chkTefSitef);

  EXPECT_FALSE(w.close()) << "the close is refused";
  EXPECT_FALSE(w.isVisible());
  EXPECT_FALSE(svc_->endRequested);
  w.restaura()->trigger();
  EXPECT_TRUE(w.isVisible());
}

TEST_F(QtWindow, EndCommands) {
  struct Case {
    const char* name;
    std::function<void(FrmPrincipal&)> act;
  } cases[] = {
      {"btnClose", [](FrmPrincipal& w) { w.btnClose()->click(); }},
      {"Sair do sistema", [](FrmPrincipal& w) { w.sair()->trigger(); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FrmPrincipal& w = open();
    c.act(w);
    EXPECT_TRUE(svc_->endRequested);
    window_.reset();
  }
}

TEST_F(QtWindow, LogOf1001RowsInTheGrid) {
  FrmPrincipal& w = open();
  w.restaura()->trigger();
  svc_->tblList.clear();
  for (int i = 1; i <= 1001; ++i) svc_->addList("Linha " + std::to_string(i), "msg");
  const QAbstractItemModel* grid = w.GridList()->model();
  ASSERT_EQ(grid->rowCount(), 1001);
  EXPECT_EQ(grid->index(1000, 0).data(), "Linha 1001");
  EXPECT_EQ(grid->index(1000, 1).data(), "05/03/2024");
  EXPECT_EQ(grid->index(1000, 2).data(), "10:20:30");
  EXPECT_EQ(grid->index(1000, 3).data(), "msg");
  svc_->addList("Depois", "");
  ASSERT_EQ(grid->rowCount(), 1) << "the full log empties before the next row";
  EXPECT_EQ(grid->index(0, 0).data(), "Depois");
}

// The button reaches the manager's administrative request.
TEST_F(QtWindow, AdmSitefButton) {
  writeSettings("chkTefSitef=SIM\r\n");
  // The manager's exchange folders, as its installation leaves them.
  std::filesystem::create_directories(drive_.at("Client/REQ"));
  std::filesystem::create_directories(drive_.at("Client/RESP"));
  FrmPrincipal& w = open();
  out_.str("");
  w.SpeedButton1()->click();
  spinUntil([] { return false; });  // an error box would fail the test here
  EXPECT_NE(out_.str().find("| ADm - Sitef |"), std::string::npos) << out_.str();
}

// While each modal window is open, the guardian's test file is still answered.
TEST_F(QtWindow, HeartbeatAnsweredWhileModal) {
  struct Case {
    const char* name;
    std::function<void(QtWindow&)> run;
  } cases[] = {
      {"input box",
       [](QtWindow& t) {
         bool answered = false;
         onModal<QInputDialog>(t.window_.get(), [&](QInputDialog* box) {
           answered = t.heartbeatAnswered();
           box->reject();
         });
         t.window_->inputBoxHook = t.realInputBox_;
         t.window_->btnConfig()->click();
         EXPECT_TRUE(answered);
       }},
      {"settings dialog",
       [](QtWindow& t) {
         bool answered = false;
         t.throughSettings([&](FrmConfig*) { answered = t.heartbeatAnswered(); });
         EXPECT_TRUE(answered);
       }},
      {"error box",
       [](QtWindow& t) {
         bool answered = false;
         onModal<QMessageBox>(t.window_.get(), [&](QMessageBox* box) {
           EXPECT_EQ(box->icon(), QMessageBox::Critical);
           EXPECT_EQ(box->text(), "falha");
           answered = t.heartbeatAnswered();
           box->accept();
         });
         t.window_->errorBoxHook = t.realErrorBox_;
         t.window_->logic().showError("falha");
         spinUntil([&] { return answered; });
         EXPECT_TRUE(answered);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    open();
    fastHeartbeat();
    c.run(*this);
    window_.reset();
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}

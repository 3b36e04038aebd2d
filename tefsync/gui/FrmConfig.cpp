#include "tefsync/gui/FrmConfig.h"

#include <QGuiApplication>
#include <QIcon>
#include <QMessageBox>
#include <QRegularExpressionValidator>
#include <QScreen>
#include <exception>

namespace tefsync::gui {

namespace {

QString q(const std::string& s) {
  return QString::fromStdString(s);
}

QToolButton* iconButton(QWidget* parent, const char* name, const char* icon, const char* hint,
                        int x) {
  auto* b = new QToolButton(parent);
  b->setObjectName(name);
  b->setIcon(QIcon(icon));
  b->setIconSize(QSize(28, 28));
  b->setToolTip(QString::fromUtf8(hint));
  b->setAutoRaise(true);
  b->setGeometry(x, 8, 40, 40);
  return b;
}

}  // namespace

FrmConfig::FrmConfig(TfrmConfig& cfg, QWidget* parent) : QDialog(parent), cfg_(cfg) {
  setObjectName("TfrmConfig");
  setWindowTitle(QString::fromUtf8(kCaption));
  setFixedSize(723, 352);
  setModal(true);
  if (const QScreen* screen = QGuiApplication::primaryScreen())
    move(screen->availableGeometry().center() - rect().center());

  btnsair_ = iconButton(this, "btnsair", ":/icons/voltar", "Voltar", 8);
  btnSalvar_ = iconButton(this, "btnSalvar", ":/icons/salvar", "Salvar", 52);
  btnCancelar_ = iconButton(this, "btnCancelar", ":/icons/cancelar", "Cancelar", 96);
  connect(btnsair_, &QToolButton::clicked, this, &FrmConfig::btnsairClick);
  connect(btnSalvar_, &QToolButton::clicked, this, &FrmConfig::btnSalvarClick);
  connect(btnCancelar_, &QToolButton::clicked, this, &FrmConfig::btnCancelarClick);

  token_velantra_ = addField("token_velantra", "Token Velantra ( Token Fixo ):", 16, 68, 480);
  edtCnpjTEf_ = addField("edtCnpjTEf", "CNPJ do TEF:", 16, 104, 180);
  idvelantra_ = addField("idvelantra", "Id Velantra:", 16, 140, 100);
  IdCaixa_ = addField("IdCaixa", "Id Caixa:", 16, 176, 100);
  auto* nota =
      new QLabel("Se Id Caixa for igual 0, funciona para todos, senao informar o ID...", this);
  nota->setObjectName("lblNotaIdCaixa");
  nota->setWordWrap(true);
  nota->setGeometry(326, 170, 390, 36);
  urlBase_ = addField("urlBase", "URL Base:", 16, 212, 480);
  timerApi_ = addField("timerApi", "Timer API ( segundos )", 16, 248, 100);

  chkTefSitef_ = new QCheckBox("TEF Sitef", this);
  chkTefSitef_->setObjectName("chkTefSitef");
  chkTefSitef_->setGeometry(340, 248, 110, 24);
  chkTefCielo_ = new QCheckBox("TEF Cielo", this);
  chkTefCielo_->setObjectName("chkTefCielo");
  chkTefCielo_->setGeometry(460, 248, 110, 24);

  // Whole numbers only; nine digits always fit the integer the service reads.
  const QRegularExpression digits("[0-9]{0,9}");
  for (QLineEdit* e : {idvelantra_, IdCaixa_, timerApi_})
    e->setValidator(new QRegularExpressionValidator(digits, e));

  errorBox = [](QWidget* owner, const QString& message) {
    QMessageBox::critical(owner, QGuiApplication::applicationDisplayName(), message);
  };
}

QLineEdit* FrmConfig::addField(const char* name, const char* label, int x, int y, int width) {
  auto* edit = new QLineEdit(this);
  edit->setObjectName(name);
  edit->setGeometry(x + 200, y, width, 24);
  auto* l = new QLabel(QString::fromUtf8(label), this);
  l->setObjectName(QString("lbl_") + name);
  l->setGeometry(x, y, 196, 24);
  l->setBuddy(edit);
  return edit;
}

void FrmConfig::fieldsFromSettings() {
  token_velantra_->setText(q(cfg_.token_velantra));
  edtCnpjTEf_->setText(q(cfg_.edtCnpjTEf));
  idvelantra_->setText(q(cfg_.idvelantra));
  IdCaixa_->setText(q(cfg_.IdCaixa));
  urlBase_->setText(q(cfg_.urlBase));
  timerApi_->setText(q(cfg_.timerApi));
  chkTefSitef_->setChecked(cfg_.chkTefSitef);
  chkTefCielo_->setChecked(cfg_.chkTefCielo);
}

void FrmConfig::settingsFromFields() {
  cfg_.token_velantra = token_velantra_->text().toStdString();
  cfg_.edtCnpjTEf = edtCnpjTEf_->text().toStdString();
  cfg_.idvelantra = idvelantra_->text().toStdString();
  cfg_.IdCaixa = IdCaixa_->text().toStdString();
  cfg_.urlBase = urlBase_->text().toStdString();
  cfg_.timerApi = timerApi_->text().toStdString();
  cfg_.chkTefSitef = chkTefSitef_->isChecked();
  cfg_.chkTefCielo = chkTefCielo_->isChecked();
}

void FrmConfig::showError(const std::string& message) {
  if (errorBox) errorBox(this, q(message));
}

void FrmConfig::showEvent(QShowEvent* event) {
  try {
    cfg_.Show();
  } catch (const std::exception& e) {
    showError(e.what());
  }
  fieldsFromSettings();
  QDialog::showEvent(event);
}

void FrmConfig::btnSalvarClick() {
  settingsFromFields();
  try {
    cfg_.btnSalvarClick();
  } catch (const std::exception& e) {
    // The file is unchanged; the dialog stays open with what was typed.
    showError(e.what());
    return;
  }
  QDialog::accept();
}

void FrmConfig::btnsairClick() {
  try {
    cfg_.btnsairClick();
  } catch (const std::exception& e) {
    showError(e.what());
  }
  QDialog::reject();
}

void FrmConfig::reject() {
  btnsairClick();
}

void FrmConfig::btnCancelarClick() {
  try {
    cfg_.btnCancelarClick();
  } catch (const std::exception& e) {
    showError(e.what());
    return;
  }
  fieldsFromSettings();
}

}  // namespace tefsync::gui

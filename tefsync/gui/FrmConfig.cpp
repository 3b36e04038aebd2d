#include "tefsync/gui/FrmConfig.h"

#include <QGuiApplication>
#include <QIcon>
#include <QMessageBox>
#include <QRegularExpressionValidator>
#include <QScreen>
#include <optional>

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

FrmConfig::FrmConfig(TfrmConfig& cfg, QWidget* parent)
    : QDialog(parent), logic_(cfg, [this](const std::string& m) { showError(m); }) {
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

  // Whole numbers only, and no more digits than always fit the integer the service reads.
  const QRegularExpression digits(QString("[0-9]{0,%1}").arg(kWholeNumberDigits));
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

void FrmConfig::showFields(const ConfigFields& f) {
  token_velantra_->setText(q(f.token_velantra));
  edtCnpjTEf_->setText(q(f.edtCnpjTEf));
  idvelantra_->setText(q(f.idvelantra));
  IdCaixa_->setText(q(f.IdCaixa));
  urlBase_->setText(q(f.urlBase));
  timerApi_->setText(q(f.timerApi));
  chkTefSitef_->setChecked(f.chkTefSitef);
  chkTefCielo_->setChecked(f.chkTefCielo);
}

ConfigFields FrmConfig::typedFields() const {
  ConfigFields f;
  f.token_velantra = token_velantra_->text().toStdString();
  f.edtCnpjTEf = edtCnpjTEf_->text().toStdString();
  f.idvelantra = idvelantra_->text().toStdString();
  f.IdCaixa = IdCaixa_->text().toStdString();
  f.urlBase = urlBase_->text().toStdString();
  f.timerApi = timerApi_->text().toStdString();
  f.chkTefSitef = chkTefSitef_->isChecked();
  f.chkTefCielo = chkTefCielo_->isChecked();
  return f;
}

void FrmConfig::showError(const std::string& message) {
  if (errorBox) errorBox(this, q(message));
}

void FrmConfig::showEvent(QShowEvent* event) {
  showFields(logic_.shown());
  QDialog::showEvent(event);
}

void FrmConfig::btnSalvarClick() {
  // On failure the dialog stays open with what was typed.
  if (logic_.salvar(typedFields())) QDialog::accept();
}

void FrmConfig::btnsairClick() {
  logic_.voltar();
  QDialog::reject();
}

void FrmConfig::reject() {
  btnsairClick();
}

void FrmConfig::btnCancelarClick() {
  if (const std::optional<ConfigFields> fields = logic_.cancelar()) showFields(*fields);
}

}  // namespace tefsync::gui

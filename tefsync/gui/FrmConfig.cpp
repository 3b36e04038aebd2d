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

QToolButton* iconButton(QWidget* parent, const ButtonText& t, const char* icon, int x) {
  auto* b = new QToolButton(parent);
  b->setObjectName(t.name);
  b->setIcon(QIcon(icon));
  b->setIconSize(QSize(28, 28));
  b->setToolTip(QString::fromUtf8(t.hint));
  b->setAutoRaise(true);
  b->setGeometry(x, 8, t.width, 40);
  return b;
}

}  // namespace

FrmConfig::FrmConfig(TfrmConfig& cfg, QWidget* parent)
    : QDialog(parent), logic_(cfg, [this](const std::string& m) { showError(m); }) {
  setObjectName("TfrmConfig");
  setWindowTitle(QString::fromUtf8(kConfigCaption));
  setFixedSize(kConfigWidth, kConfigHeight);
  setModal(true);
  if (const QScreen* screen = QGuiApplication::primaryScreen())
    move(screen->availableGeometry().center() - rect().center());

  btnsair_ = iconButton(this, kBtnsair, ":/icons/voltar", 8);
  btnSalvar_ = iconButton(this, kBtnSalvar, ":/icons/salvar", 52);
  btnCancelar_ = iconButton(this, kBtnCancelar, ":/icons/cancelar", 96);
  connect(btnsair_, &QToolButton::clicked, this, &FrmConfig::btnsairClick);
  connect(btnSalvar_, &QToolButton::clicked, this, &FrmConfig::btnSalvarClick);
  connect(btnCancelar_, &QToolButton::clicked, this, &FrmConfig::btnCancelarClick);

  // Whole numbers only, and no more digits than always fit the integer the service reads.
  const QRegularExpression digits(QString("[0-9]{0,%1}").arg(kWholeNumberDigits));
  for (size_t i = 0; i < edits_.size(); ++i) {
    const ConfigTextField& f = kConfigTextFields[i];
    auto* edit = new QLineEdit(this);
    edit->setObjectName(f.name);
    edit->setGeometry(216, f.y, f.width, 24);
    if (f.wholeNumber) edit->setValidator(new QRegularExpressionValidator(digits, edit));
    auto* label = new QLabel(QString::fromUtf8(f.label), this);
    label->setObjectName(QString("lbl_") + f.name);
    label->setGeometry(16, f.y, 196, 24);
    label->setBuddy(edit);
    edits_[i] = edit;
  }
  auto* nota = new QLabel(kNotaIdCaixa, this);
  nota->setObjectName("lblNotaIdCaixa");
  nota->setWordWrap(true);
  nota->setGeometry(326, 170, 390, 36);
  for (size_t i = 0; i < checks_.size(); ++i) {
    const ConfigCheckBox& c = kConfigCheckBoxes[i];
    checks_[i] = new QCheckBox(c.text, this);
    checks_[i]->setObjectName(c.name);
    checks_[i]->setGeometry(c.x, 248, 110, 24);
  }

  errorBox = [](QWidget* owner, const QString& message) {
    QMessageBox::critical(owner, QGuiApplication::applicationDisplayName(), message);
  };
}

void FrmConfig::showFields(const ConfigFields& f) {
  for (size_t i = 0; i < edits_.size(); ++i) edits_[i]->setText(q(f.*kConfigTextFields[i].value));
  for (size_t i = 0; i < checks_.size(); ++i) checks_[i]->setChecked(f.*kConfigCheckBoxes[i].value);
}

ConfigFields FrmConfig::typedFields() const {
  ConfigFields f;
  for (size_t i = 0; i < edits_.size(); ++i)
    f.*kConfigTextFields[i].value = edits_[i]->text().toStdString();
  for (size_t i = 0; i < checks_.size(); ++i)
    f.*kConfigCheckBoxes[i].value = checks_[i]->isChecked();
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

// The settings dialog "TfrmConfig": the Qt view of the settings dialog's logic over the live
// settings object. Its fields show the object's values; "Salvar" copies what was typed into
// it and writes the file.
#pragma once

#include <QCheckBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QToolButton>
#include <array>
#include <functional>
#include <iterator>
#include <string>

#include "tefsync/settings/TfrmConfig.h"
#include "tefsync/shell/MainWindowLogic.h"
#include "tefsync/shell/WindowTexts.h"

namespace tefsync::gui {

class FrmConfig final : public QDialog {
  Q_OBJECT

 public:
  explicit FrmConfig(TfrmConfig& cfg, QWidget* parent = nullptr);

  // The error box; replaceable so tests can read it without a nested loop.
  std::function<void(QWidget* parent, const QString& message)> errorBox;

  QToolButton* btnsair() const { return btnsair_; }
  QToolButton* btnSalvar() const { return btnSalvar_; }
  QToolButton* btnCancelar() const { return btnCancelar_; }
  QLineEdit* token_velantra() const { return findChild<QLineEdit*>("token_velantra"); }
  QLineEdit* edtCnpjTEf() const { return findChild<QLineEdit*>("edtCnpjTEf"); }
  QLineEdit* idvelantra() const { return findChild<QLineEdit*>("idvelantra"); }
  QLineEdit* IdCaixa() const { return findChild<QLineEdit*>("IdCaixa"); }
  QLineEdit* urlBase() const { return findChild<QLineEdit*>("urlBase"); }
  QLineEdit* timerApi() const { return findChild<QLineEdit*>("timerApi"); }
  QCheckBox* chkTefSitef() const { return findChild<QCheckBox*>("chkTefSitef"); }
  QCheckBox* chkTefCielo() const { return findChild<QCheckBox*>("chkTefCielo"); }

  void btnSalvarClick();
  void btnsairClick();
  void btnCancelarClick();

  // Escape and the window's close button leave as "Voltar" does.
  void reject() override;

 protected:
  // Only showing re-reads the file: an error box over the dialog must not wipe what was
  // typed when it closes.
  void showEvent(QShowEvent* event) override;

 private:
  void showFields(const ConfigFields& fields);
  ConfigFields typedFields() const;
  void showError(const std::string& message);

  ConfigDialogLogic logic_;
  QToolButton* btnsair_ = nullptr;
  QToolButton* btnSalvar_ = nullptr;
  QToolButton* btnCancelar_ = nullptr;
  // In the order of kConfigTextFields and kConfigCheckBoxes.
  std::array<QLineEdit*, std::size(kConfigTextFields)> edits_{};
  std::array<QCheckBox*, std::size(kConfigCheckBoxes)> checks_{};
};

}  // namespace tefsync::gui

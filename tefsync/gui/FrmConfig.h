// The settings dialog "TfrmConfig": the Qt view of the settings dialog's logic over the live
// settings object. Its fields show the object's values; "Salvar" copies what was typed into
// it and writes the file.
#pragma once

#include <QCheckBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QToolButton>
#include <functional>
#include <string>

#include "tefsync/settings/TfrmConfig.h"
#include "tefsync/shell/MainWindowLogic.h"

namespace tefsync::gui {

class FrmConfig final : public QDialog {
  Q_OBJECT

 public:
  static constexpr const char* kCaption = "Configuração de dados para  integração";

  explicit FrmConfig(TfrmConfig& cfg, QWidget* parent = nullptr);

  // The error box; replaceable so tests can read it without a nested loop.
  std::function<void(QWidget* parent, const QString& message)> errorBox;

  QToolButton* btnsair() const { return btnsair_; }
  QToolButton* btnSalvar() const { return btnSalvar_; }
  QToolButton* btnCancelar() const { return btnCancelar_; }
  QLineEdit* token_velantra() const { return token_velantra_; }
  QLineEdit* edtCnpjTEf() const { return edtCnpjTEf_; }
  QLineEdit* idvelantra() const { return idvelantra_; }
  QLineEdit* IdCaixa() const { return IdCaixa_; }
  QLineEdit* urlBase() const { return urlBase_; }
  QLineEdit* timerApi() const { return timerApi_; }
  QCheckBox* chkTefSitef() const { return chkTefSitef_; }
  QCheckBox* chkTefCielo() const { return chkTefCielo_; }

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
  QLineEdit* addField(const char* name, const char* label, int x, int y, int width);

  ConfigDialogLogic logic_;
  QToolButton* btnsair_ = nullptr;
  QToolButton* btnSalvar_ = nullptr;
  QToolButton* btnCancelar_ = nullptr;
  QLineEdit* token_velantra_ = nullptr;
  QLineEdit* edtCnpjTEf_ = nullptr;
  QLineEdit* idvelantra_ = nullptr;
  QLineEdit* IdCaixa_ = nullptr;
  QLineEdit* urlBase_ = nullptr;
  QLineEdit* timerApi_ = nullptr;
  QCheckBox* chkTefSitef_ = nullptr;
  QCheckBox* chkTefCielo_ = nullptr;
};

}  // namespace tefsync::gui

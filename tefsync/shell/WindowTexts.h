// What tefsync's windows show, once for every shell: the menu, the buttons, the event log's
// columns and cells, the settings dialog's fields and check boxes. Places and sizes are
// pixels at 96 dpi.
#pragma once

#include <string>

#include "tefsync/core/TfrmPrincipal.h"
#include "tefsync/shell/MainWindowLogic.h"

namespace tefsync {

// ---- the main window ----
inline constexpr int kMainWindowWidth = 692;
inline constexpr int kMainWindowHeight = 571;

inline constexpr const char* kMenuRestaura = "Restaurar programa - Norvanta";
inline constexpr const char* kMenuSair = "Sair do sistema";

struct ButtonText {
  const char* name;
  const char* text;  // empty for a button that shows an icon
  const char* hint;
  int width;
};
// In the window's order, left to right.
inline constexpr ButtonText kBtnClose{"btnClose", "", "Fecha sincronizador", 40};
inline constexpr ButtonText kBtnConfig{"btnConfig", "", "Configurações", 40};
inline constexpr ButtonText kSpeedButton1{"SpeedButton1", "ADM - Sitef", "Configurações", 110};
inline constexpr ButtonText kBtnguiaTeste{"btnguiaTeste", "Guia de testes",
                                          "Enviar vendas pedentes", 120};

struct LogColumn {
  const char* name;
  int width;
};
inline constexpr LogColumn kLogColumns[] = {
    {"Operacao", 180}, {"Data", 80}, {"Hora", 64}, {"Mensagem", 340}};
inline constexpr int kLogColumnCount = 4;
// A cell of the event log as the grid shows it: the date as DD/MM/AAAA, the time as
// HH:MM:SS.
std::string logCell(const LogRow& row, int column);

inline constexpr const char* kPageTabs[] = {"dados de envio", "Guia de testes"};
inline constexpr const char* kLblRequest = "Request";
inline constexpr const char* kLblResult = "Result";

// ---- the settings dialog "TfrmConfig" ----
inline constexpr const char* kConfigCaption = "Configuração de dados para  integração";
inline constexpr int kConfigWidth = 723;
inline constexpr int kConfigHeight = 352;

// Its three buttons, left to right at y 8, 40 x 40.
inline constexpr ButtonText kBtnsair{"btnsair", "", "Voltar", 40};
inline constexpr ButtonText kBtnSalvar{"btnSalvar", "", "Salvar", 40};
inline constexpr ButtonText kBtnCancelar{"btnCancelar", "", "Cancelar", 40};

// The text fields, top to bottom: the label at x 16 (196 wide), the field at x 216 (24
// high).
struct ConfigTextField {
  const char* name;
  const char* label;
  int y;
  int width;
  bool wholeNumber;  // digits only, at most kWholeNumberDigits
  std::string ConfigFields::*value;
};
inline constexpr ConfigTextField kConfigTextFields[] = {
    {"token_velantra", "Token Velantra ( Token Fixo ):", 68, 480, false,
     &ConfigFields::token_velantra},
    {"edtCnpjTEf", "CNPJ do TEF:", 104, 180, false, &ConfigFields::edtCnpjTEf},
    {"idvelantra", "Id Velantra:", 140, 100, true, &ConfigFields::idvelantra},
    {"IdCaixa", "Id Caixa:", 176, 100, true, &ConfigFields::IdCaixa},
    {"urlBase", "URL Base:", 212, 480, false, &ConfigFields::urlBase},
    {"timerApi", "Timer API ( segundos )", 248, 100, true, &ConfigFields::timerApi},
};

// The check boxes at y 248, 110 x 24.
struct ConfigCheckBox {
  const char* name;
  const char* text;
  int x;
  bool ConfigFields::*value;
};
inline constexpr ConfigCheckBox kConfigCheckBoxes[] = {
    {"chkTefSitef", "TEF Sitef", 340, &ConfigFields::chkTefSitef},
    {"chkTefCielo", "TEF Cielo", 460, &ConfigFields::chkTefCielo},
};

// The note beside "Id Caixa:", at (326, 170), 390 x 36, its text wrapped.
inline constexpr const char* kNotaIdCaixa =
    "Se Id Caixa for igual 0, funciona para todos, senao informar o ID...";

}  // namespace tefsync

// The settings of tefsync: the live settings object the settings dialog edits.
//
// Its fields are the live settings; the rest of the program reads them when it needs a
// value. They are refilled from "configAPI_TEF.ini" at start-up, whenever the dialog is
// shown, on "Cancelar", after the dialog closes and whenever the main window is activated.
#pragma once

#include <functional>
#include <stdexcept>
#include <string>

namespace tefsync {

// "Salvar" refused: a field holds what the settings may not store. The text says which
// field and what to type instead; the dialog only shows it.
class ConfigInvalida : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class TfrmConfig {
 public:
  static constexpr const char* kArquivo = "configAPI_TEF.ini";
  static constexpr const char* kSecao = "CONF";
  static constexpr int kTimerApiPadrao = 10;
  static constexpr int kMaiorInteiro = 2147483647;

  enum class ModalResult { None, Ok, Cancel };

  // The settings file: beside the executable unless a path is given.
  explicit TfrmConfig(std::string arquivoConfig = {});

  const std::string& ArquivoConfig() const { return arquivo_; }

  // The dialog's fields, texts as typed.
  std::string token_velantra;
  std::string edtCnpjTEf;
  std::string idvelantra;
  std::string IdCaixa;
  std::string urlBase;
  bool chkTefSitef = false;
  bool chkTefCielo = false;
  std::string timerApi;

  // Values of the whole-number fields: an empty text, or one that is not a whole number
  // in the integer range, counts as 0.
  int idvelantraValue() const { return ValorInteiro(idvelantra); }
  int IdCaixaValue() const { return ValorInteiro(IdCaixa); }
  int timerApiValue() const { return ValorInteiro(timerApi); }

  // A stored "Id Velantra" or "Id Caixa" that is neither empty nor a whole number from 0 to
  // kMaiorInteiro: reading it as 0 would take the requests of every register, so the
  // service does not poll while this is not empty. Names the key and the value.
  std::string ErroConfiguracao() const;
  // Set by LoadConfig when the stored "timerApi" was not a whole number and counts as 10.
  const std::string& AvisoTimerApi() const { return avisoTimerApi_; }

  // Fills the fields from the file. A file that exists but cannot be read throws
  // plat::FileError and leaves the fields as they were.
  void LoadConfig();
  // "Salvar": writes the eight keys in one atomic replace and closes with ModalResult::Ok.
  // Refuses ids and a period that are not whole numbers with ConfigInvalida, writing
  // nothing. On failure throws (ConfigInvalida, plat::FileError, zkt::IniError); the dialog
  // stays open and the fields keep what was typed.
  void btnSalvarClick();
  // Called after each successful "Salvar".
  std::function<void()> aposSalvar;
  // "Voltar": closes without writing.
  void btnsairClick();
  // "Cancelar": the file's values again; the dialog stays open.
  void btnCancelarClick();
  // Each time the dialog is shown.
  void FormActivate();

  // Dialog state for a window shell: Show opens it (running FormActivate); "Salvar" and
  // "Voltar" close it, and closing reloads the fields from the file.
  void Show();
  bool Visible() const { return visible_; }
  ModalResult Resultado() const { return resultado_; }

  // "SIM"/"NAO" as stored for a check box.
  static std::string SimNao(bool marcado) { return marcado ? "SIM" : "NAO"; }
  static int ValorInteiro(const std::string& texto);
  // Empty, or a whole number from 0 to kMaiorInteiro (blanks around and a "+" allowed).
  static bool InteiroValido(const std::string& texto);

 private:
  void Fechar(ModalResult r);

  std::string arquivo_;
  std::string avisoTimerApi_;
  bool visible_ = false;
  ModalResult resultado_ = ModalResult::None;
};

}  // namespace tefsync

#include "tefsync/settings/TfrmConfig.h"

#include <charconv>
#include <utility>

#include "common/funcoes_zkt.h"
#include "common/ini.h"

namespace tefsync {

TfrmConfig::TfrmConfig(std::string arquivoConfig)
    : arquivo_(arquivoConfig.empty() ? zkt::Path_Do_Executavel() + kArquivo
                                     : std::move(arquivoConfig)) {}

int TfrmConfig::ValorInteiro(const std::string& texto) {
  size_t b = 0;
  size_t e = texto.size();
  while (b < e && (texto[b] == ' ' || texto[b] == '\t')) ++b;
  while (e > b && (texto[e - 1] == ' ' || texto[e - 1] == '\t')) --e;
  if (b < e && texto[b] == '+') ++b;
  int valor = 0;
  const char* first = texto.data() + b;
  const char* last = texto.data() + e;
  const auto [ptr, ec] = std::from_chars(first, last, valor);
  if (first == last || ec != std::errc() || ptr != last) return 0;
  return valor;
}

bool TfrmConfig::InteiroValido(const std::string& texto) {
  size_t b = 0;
  size_t e = texto.size();
  while (b < e && (texto[b] == ' ' || texto[b] == '\t')) ++b;
  while (e > b && (texto[e - 1] == ' ' || texto[e - 1] == '\t')) --e;
  if (b == e) return true;
  if (texto[b] == '+') ++b;
  if (b == e || texto[b] < '0' || texto[b] > '9') return false;  // no second sign
  int valor = 0;
  const auto [ptr, ec] = std::from_chars(texto.data() + b, texto.data() + e, valor);
  return ec == std::errc() && ptr == texto.data() + e;
}

namespace {

struct CampoInteiro {
  const char* chave;
  const char* rotulo;
  const std::string TfrmConfig::*campo;
};

const CampoInteiro kIds[] = {{"idvelantra", "Id Velantra", &TfrmConfig::idvelantra},
                             {"IdCaixa", "Id Caixa", &TfrmConfig::IdCaixa}};

std::string faixa() {
  return "um numero inteiro de 0 a " + std::to_string(TfrmConfig::kMaiorInteiro);
}

}  // namespace

std::string TfrmConfig::ErroConfiguracao() const {
  for (const CampoInteiro& c : kIds) {
    const std::string& valor = this->*c.campo;
    if (!InteiroValido(valor))
      return std::string(c.chave) + "=" + valor + ": " + c.rotulo + " deve ser vazio ou " + faixa();
  }
  return {};
}

void TfrmConfig::LoadConfig() {
  const zkt::IniFile ini(arquivo_);
  // Read everything first, so a read failure leaves the fields as they were.
  std::string token = ini.ReadString(kSecao, "TOKEN_VELANTRA");
  std::string cnpj = ini.ReadString(kSecao, "edtCnpjTEf");
  std::string idVel = ini.ReadString(kSecao, "idvelantra");
  std::string idCx = ini.ReadString(kSecao, "IdCaixa");
  std::string url = ini.ReadString(kSecao, "URLBASE");
  std::string timer = ini.ReadString(kSecao, "timerApi");
  const bool sitef = ini.ReadString(kSecao, "chkTefSitef") == "SIM";
  const bool cielo = ini.ReadString(kSecao, "chkTefCielo") == "SIM";

  token_velantra = std::move(token);
  edtCnpjTEf = std::move(cnpj);
  idvelantra = std::move(idVel);
  IdCaixa = std::move(idCx);
  urlBase = std::move(url);
  timerApi = std::move(timer);
  chkTefSitef = sitef;
  chkTefCielo = cielo;
  // A period of 0 (or a negative one, or none) would poll on every tick.
  avisoTimerApi_.clear();
  if (!InteiroValido(timerApi))
    avisoTimerApi_ = "timerApi=" + timerApi + ": Timer API deve ser " + faixa() + "; usado " +
                     std::to_string(kTimerApiPadrao);
  if (timerApiValue() <= 0) timerApi = std::to_string(kTimerApiPadrao);
}

void TfrmConfig::btnSalvarClick() {
  // An id read as 0 would take every register's requests: refuse what is not a number.
  for (const CampoInteiro& c : kIds) {
    if (!InteiroValido(this->*c.campo))
      throw ConfigInvalida(std::string(c.rotulo) + ": \"" + this->*c.campo +
                           "\" nao e um numero inteiro. Deixe vazio (0) ou informe " + faixa() +
                           ".");
  }
  if (!InteiroValido(timerApi))
    throw ConfigInvalida("Timer API: \"" + timerApi + "\" nao e um numero inteiro. Informe " +
                         faixa() + " segundos (0 = 10 segundos).");
  zkt::IniFile(arquivo_).WriteStrings(kSecao, {
                                                  {"TOKEN_VELANTRA", token_velantra},
                                                  {"edtCnpjTEf", edtCnpjTEf},
                                                  {"idvelantra", idvelantra},
                                                  {"IdCaixa", IdCaixa},
                                                  {"URLBASE", urlBase},
                                                  {"chkTefSitef", SimNao(chkTefSitef)},
                                                  {"chkTefCielo", SimNao(chkTefCielo)},
                                                  {"timerApi", timerApi},
                                              });
  Fechar(ModalResult::Ok);
  if (aposSalvar) aposSalvar();
}

void TfrmConfig::btnsairClick() {
  Fechar(ModalResult::Cancel);
}

void TfrmConfig::btnCancelarClick() {
  LoadConfig();
}

void TfrmConfig::FormActivate() {
  LoadConfig();
}

void TfrmConfig::Show() {
  resultado_ = ModalResult::None;
  visible_ = true;
  FormActivate();
}

void TfrmConfig::Fechar(ModalResult r) {
  resultado_ = r;
  visible_ = false;
  // What was typed and not saved is gone once the dialog closes.
  LoadConfig();
}

}  // namespace tefsync

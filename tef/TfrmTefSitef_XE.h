// Text-mode companion of the Sitef engine: owns the field table of the loaded answer.
#pragma once

#include <string>
#include <vector>

namespace tef {

// One line of an exchange file split by position.
struct TLinhaTEF {
  std::string codigo;       // characters 1-3
  std::string campo2;       // characters 5-7
  std::string Dados_linha;  // characters 11 on, at most 80
};

class TfrmTefSitef_XE {
 public:
  static constexpr size_t kTamanhoDados = 80;

  // One row per line of the loaded answer, in file order.
  std::vector<TLinhaTEF> tblTEF;

  bool Aberta() const { return aberta_; }
  void Abrir();   // opens the table empty
  void Fechar();  // closes it, discarding its rows
  // Appends a row, cutting the value to kTamanhoDados characters.
  void Adicionar(const std::string& codigo, const std::string& campo2, const std::string& dados);
  // First row with this code and sequence, or nullptr.
  const TLinhaTEF* Localizar(const std::string& codigo, const std::string& campo2) const;

 private:
  bool aberta_ = false;
};

}  // namespace tef

#include "tef/TfrmTefSitef_XE.h"

#include "platform/encoding.h"

namespace tef {

void TfrmTefSitef_XE::Abrir() {
  tblTEF.clear();
  aberta_ = true;
}

void TfrmTefSitef_XE::Fechar() {
  tblTEF.clear();
  aberta_ = false;
}

void TfrmTefSitef_XE::Adicionar(const std::string& codigo, const std::string& campo2,
                                const std::string& dados) {
  std::u32string texto = plat::toU32(dados);
  if (texto.size() > kTamanhoDados) texto.resize(kTamanhoDados);
  tblTEF.push_back({codigo, campo2, plat::fromU32(texto)});
}

const TLinhaTEF* TfrmTefSitef_XE::Localizar(const std::string& codigo,
                                            const std::string& campo2) const {
  for (const auto& linha : tblTEF)
    if (linha.codigo == codigo && linha.campo2 == campo2) return &linha;
  return nullptr;
}

}  // namespace tef

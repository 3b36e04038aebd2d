#include "fiscal/uLibFiscal.h"

namespace fiscal {

bool InitComm(const std::string& /*Porta*/, int /*ModeloImpIn*/) {
  return true;
}

void EndComm() {}

bool ImpressoraEstaAtiva_TEF() {
  return true;
}

int Fecha_Cupom_Vinculado_TEF() {
  return 0;
}

int RelatorioECF(const std::string& /*Operador*/, const std::string& /*Oque*/) {
  return 0;
}

}  // namespace fiscal

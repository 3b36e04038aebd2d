// Fiscal printer bridge. This system drives no fiscal printer: every operation returns at
// once with success, so the engine's undo and recovery paths run unchanged without one.
#pragma once

#include <string>

namespace fiscal {

bool InitComm(const std::string& Porta, int ModeloImpIn);
void EndComm();
bool ImpressoraEstaAtiva_TEF();
int Fecha_Cupom_Vinculado_TEF();
int RelatorioECF(const std::string& Operador, const std::string& Oque);

}  // namespace fiscal

// The synchronizer for the guardian's window tests: a count of running copies, whatever the
// name; each start adds one, an end ends them all.
#pragma once

#include <string>

#include "procguard/Guardiao.h"

class ProcessosContados final : public procguard::Processos {
 public:
  int vivos = 0;
  int encerramentos = 0;
  int Conta_Processos(const std::string&) override { return vivos; }
  bool Encerra_Processos(const std::string&) override {
    ++encerramentos;
    vivos = 0;
    return true;
  }
  std::string Localizar(const std::string& pasta, const std::string& nome) override {
    return pasta + nome;
  }
  bool Executar(const std::string&) override {
    ++vivos;
    return true;
  }
  void RecolherFilhos() override {}
};

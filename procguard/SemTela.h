// The guardian without a display: messages go to the standard streams and the message
// loop is a plain loop on the clock.
#pragma once

#include <functional>
#include <ostream>

#include "procguard/Guardiao.h"

namespace procguard {

class TelaTexto final : public Tela {
 public:
  TelaTexto(std::ostream& saida, std::ostream& erros) : saida_(saida), erros_(erros) {}
  void Mensagem(const std::string& texto) override;
  void Erro(const std::string& texto) override;
  void RegistroRestart(const std::string& linha) override;
  void Registro(const std::string& linha) override;
  void ProcessarMensagens() override {}
  void Encerrar() override { encerrado_ = true; }
  bool encerrado() const { return encerrado_; }

 private:
  std::ostream& saida_;
  std::ostream& erros_;
  bool encerrado_ = false;
};

// The program's entry without a window: once the folder's lock is taken (TomarVez, tried
// every 5 s until then) FormCreate, ChamarOutrosEXE, then Timer1 every 10 s until the
// program ends. A termination request (pedidoDeFim answering true) takes the path of
// "Sair do sistema", so the synchronizer is ended as well; FormDestroy last.
void ExecutarSemTela(TfrmPrincipal& frm, TelaTexto& tela, const std::function<bool()>& pedidoDeFim);

}  // namespace procguard

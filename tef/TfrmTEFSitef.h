// The Sitef TEF exchange engine: drives the TEF manager through exchange files.
// (Public surface agreed with the service; the engine issue fills in the rest.)
#pragma once

#include <functional>
#include <stdexcept>
#include <string>

namespace fiscal {
class TfrmTEFSelect;
}

namespace tef {

class TfrmTefSitef_XE;

// A file, field or conversion fault inside the engine; names the file, field and value.
class TefError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class TfrmTEFSitef {
 public:
  // Creates the engine's folders. The companion owns the field table.
  TfrmTEFSitef(TfrmTefSitef_XE& xe, fiscal::TfrmTEFSelect& select);
  ~TfrmTEFSitef();

  // Called on every pass of every wait (the service answers the heartbeat from it).
  std::function<void()> idleHook;

  std::string cnpj_da_empresa;
  std::string str_msg_acumulada;

  int VerificaGerenciadorPadrao();
  int RealizaTransacaoCRT(const std::string& cNumeroCupom, const std::string& cTipoOperacao,
                          const std::string& quemChamou, double Valor1, double Valor2,
                          double Valor3);
  int ConfirmaTransacao();
  int NaoConfirmaTransacao();
  int Verifica_Transacao_Pendente();
  bool Testa_file_multiplos(const std::string& OperIn, const std::string& nFileIn);
};

}  // namespace tef

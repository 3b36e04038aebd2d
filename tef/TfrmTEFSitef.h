// The Sitef TEF exchange engine: drives the TEF manager through exchange files.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "tef/PastaDeRecuperacao.h"

namespace fiscal {
class TfrmTEFSelect;
}

namespace tef {

class TfrmTefSitef_XE;

class TfrmTEFSitef {
 public:
  // Acknowledgment attempts of every awaited request.
  static constexpr int kTentativasReconhecimento = 7;
  static constexpr int kPausaTentativaMs = 1000;
  // A matching acknowledgment counts only this long after it is first seen.
  static constexpr int kPausaReconhecimentoMs = 1500;
  static constexpr int kPausaRespostaMs = 500;
  // The software house's CNPJ in 565-008.
  static constexpr const char* kCnpjSoftwareHouse = "52718094000236";
  static constexpr const char* kPendente =
      "Existe transação TEF anterior não finalizada. Nova transação não realizada.";

  // Creates the engine's folders. The companion owns the field table.
  TfrmTEFSitef(TfrmTefSitef_XE& xe, fiscal::TfrmTEFSelect& select);
  ~TfrmTEFSitef();
  TfrmTEFSitef(const TfrmTEFSitef&) = delete;
  TfrmTEFSitef& operator=(const TfrmTEFSitef&) = delete;

  // Called on every pass of every wait (the service answers the heartbeat from it).
  std::function<void()> idleHook;
  // Event-log lines of the engine (the operator messages are str_msg_acumulada).
  std::function<void(const std::string& operacao, const std::string& mensagem)> onLog;

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
  // The backup folder holds work a new request would overwrite or that needs a CNF or NCN.
  bool TemTransacaoPorFinalizar() const { return pasta_.temTrabalhoPorFinalizar(); }
  PastaDeRecuperacao& pasta() { return pasta_; }

  // Folders, fixed at creation.
  const std::string PathTefDial = "C:\\CLIENT\\";
  const std::string PathTEFReq = "C:\\CLIENT\\REQ\\";
  const std::string PathTEFResp = "C:\\CLIENT\\RESP\\";
  const std::string PathAplicacao = "C:\\CLIENT\\BKPINTPOS\\";
  const std::string PathTefTmp = "c:\\drivezkt\\tmp\\tef_Sitef\\";

  // Exchange state.
  std::string cIdentificacao001;
  std::string cConteudoArquivo;
  bool temMultiplosPagtos = false;

  // Record format.
  static std::string Tipo_De_Campo(const std::string& StringIn, const std::string& Qual);
  static std::string Dados_Do_Campo(const std::string& StringIn);
  void OpenClose_File_TEF(const std::string& Oque);
  void Coletar_Todos_os_dados_do_INTPOS001();
  std::string Coleta_Valor_Da_Transacao(const std::string& QualTrans,
                                        const std::string& Transacao_2) const;
  int Tem_Cupom_para_Imprimir_28() const;
  static std::string MontaIdentificador();
  static std::string TiraAcento_TEF(const std::string& stringin);
  // The amount in cents as written into 003-000.
  static std::string ValorEmCentavos(double Valor);

  // Request exchange.
  void CriarArquivo(const std::string& Name_File, const std::string& Conteudo_File);
  int Recebeu_Arquivo_INTPOSSTS_Valido(int nTentativas);
  int IntPos_STS_Igual_Enviado(const std::string& cIdentificacao_P_Conferir);
  int IntPos_001_Igual_Enviado(const std::string& cIdentificacao_P_Conferir);
  // Copies through a staging file; a failure ends the operation with the file named.
  void Baixa_Buffer_IntPos001();
  // Deletes the file when present; true when it was there.
  bool Delete_File_TEF(const std::string& Path_Name_File);
  void CriarArquivoTmpCupom(const std::string& Name_File, const std::string& Oque);
  void Application_MessageBox(const std::string& msg1, const std::string& msg2);

  // Files of the exchange and of the backup folder.
  std::string ArqRequisicao() const { return PathTEFReq + "INTPOS.001"; }
  std::string ArqStaging() const { return PathTefDial + "INTPOS.001"; }
  std::string ArqStatus() const { return PathTEFResp + "INTPOS.STS"; }
  std::string ArqResposta() const { return pasta_.Resposta(); }
  std::string ArqBackup() const { return pasta_.RespostaGuardada(); }
  std::string ArqBkp() const { return pasta_.FinalizacaoSalva(); }
  std::string ArqMarcador() const { return pasta_.Marcador(); }
  std::string ArqMulti(const std::string& n) const { return pasta_.Pagamento(n); }

 private:
  void Pausa(int ms);
  void Log(const std::string& operacao, const std::string& mensagem) const;
  void AguardaResposta();
  void DescartaRespostaAntiga(const std::string& texto);
  bool AguardaRespostaCompleta();
  void AguardaGerenciador();
  void LimpaArquivosTransacao();
  void ColocaNaFila(const std::string& bytes);
  std::vector<std::string> LerLinhas(const std::string& arquivo) const;
  void CarregaArquivo(const std::string& arquivo);
  int FinalizaPendentes();
  bool ReenviaBkp();
  void GuardaRespostaAlheia();
  bool DesfazAtrasadas();
  int ProximoPagamento(const std::string& cNumeroCupom, double valor, const std::string& n);
  Finalizacao TransacaoCarregada(const std::string& operacao) const;
  int FinalizaCorrente(const std::string& cabecalho, const std::string& id,
                       const std::string& mensagem, bool removerMarcador, bool atrasada = false);
  int ConfirmaUma();
  int DesfazUma(bool removerMarcador);
  int DesfazTransacao(bool removerMarcador);
  void Cancela_Transacao_TEF(bool eliminarTesteZKT);
  std::string MontaRequisicao(const std::string& codigo, const std::string& cNumeroCupom,
                              const std::string& cValor) const;
  std::string MontaFinalizacao(const std::string& cabecalho, const std::string& id) const;
  static std::string MensagemDesfeita(const std::string& titulo, const std::string& rede,
                                      const std::string& nsu, const std::string& valor);

  TfrmTefSitef_XE& xe_;
  fiscal::TfrmTEFSelect& select_;
  PastaDeRecuperacao pasta_{PathAplicacao, PathTEFResp, PathTefTmp};
  std::string cOperacoes_;          // the sale's remaining operation list
  std::string cArquivoCarregado_;   // file behind the field table, for error texts
  bool pedidoSemResposta_ = false;  // a payment request was placed and never answered
  // Recovery context.
  int iRetorno_ = 0;
  bool finalizacaoPendente_ = false;
  std::string cNomeRede_, cNSU_, cValor_;
};

}  // namespace tef

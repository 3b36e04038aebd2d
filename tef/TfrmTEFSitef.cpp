#include "tef/TfrmTEFSitef.h"

#include <cmath>

#include "common/funcoes_zkt.h"
#include "fiscal/TfrmTEFSelect.h"
#include "fiscal/uLibFiscal.h"
#include "platform/clock.h"
#include "platform/encoding.h"
#include "platform/fs.h"
#include "tef/TfrmTefSitef_XE.h"

namespace tef {

namespace {

const char* const kCRLF = "\r\n";
const char* const kMarcador = "TesteCupom.zkt";
const char* const kSemComunicacao = "Erro de comunicação com client sitef. Favor ativa-lo.";
const char* const kGerenciadorInativo = "Gerenciador Padrão não esta ATIVO.";

std::string linha(const std::string& campo, const std::string& valor) {
  return campo + " = " + valor;
}

std::string junta(const std::vector<std::string>& linhas) {
  std::string texto;
  for (size_t i = 0; i < linhas.size(); ++i) {
    if (i) texto += kCRLF;
    texto += linhas[i];
  }
  return texto;
}

// Reads a count or identifier as the number written after a leading "0"; anything else
// is a clear error naming where the value came from.
long long numeroDoCampo(const std::string& valor, const std::string& arquivo,
                        const std::string& campo) {
  const std::string texto = "0" + valor;
  bool digitos = true;
  for (char c : texto)
    if (c < '0' || c > '9') digitos = false;
  size_t inicio = texto.find_first_not_of('0');
  const size_t tamanho = inicio == std::string::npos ? 0 : texto.size() - inicio;
  if (!digitos || tamanho > 18) {
    std::string mostrado = valor.size() > 40 ? valor.substr(0, 40) + "..." : valor;
    throw TefError("Arquivo " + arquivo + ", campo " + campo + ": valor \"" + mostrado +
                   "\" não é um número inteiro");
  }
  return tamanho == 0 ? 0 : std::stoll(texto.substr(inicio));
}

std::string caracteres(const std::string& texto, size_t desde, size_t quantos) {
  const std::u32string u = plat::toU32(texto);
  if (desde >= u.size()) return {};
  return plat::fromU32(u.substr(desde, quantos));
}

}  // namespace

TfrmTEFSitef::TfrmTEFSitef(TfrmTefSitef_XE& xe, fiscal::TfrmTEFSelect& select)
    : xe_(xe), select_(select) {
  // One level at a time; failures (parent missing, already there) do not matter.
  plat::createDir("c:\\drivezkt\\tmp\\");
  plat::createDir(PathTefTmp);
  plat::createDir(PathTefTmp + "multi");
  plat::createDir(PathAplicacao);
  plat::createDir(PathAplicacao + "Multi\\");
}

TfrmTEFSitef::~TfrmTEFSitef() {
  OpenClose_File_TEF("Fechar");
}

// ---- Record format ----

std::string TfrmTEFSitef::Tipo_De_Campo(const std::string& StringIn, const std::string& Qual) {
  if (Qual == "1") return caracteres(StringIn, 0, 3);
  if (Qual == "2") return caracteres(StringIn, 4, 3);
  return {};
}

std::string TfrmTEFSitef::Dados_Do_Campo(const std::string& StringIn) {
  return caracteres(StringIn, 10, std::u32string::npos);
}

void TfrmTEFSitef::OpenClose_File_TEF(const std::string& Oque) {
  std::string o = Oque;
  for (char& c : o)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  if (o == "abrir") xe_.Abrir();
  if (o == "fechar") xe_.Fechar();
}

std::vector<std::string> TfrmTEFSitef::LerLinhas(const std::string& arquivo) const {
  try {
    return linhasDoTexto(plat::readText(arquivo));
  } catch (const plat::FileError& e) {
    throw TefError(e.what());
  }
}

void TfrmTEFSitef::CarregaArquivo(const std::string& arquivo) {
  OpenClose_File_TEF("Fechar");
  OpenClose_File_TEF("Abrir");
  cArquivoCarregado_ = arquivo;
  for (const auto& l : LerLinhas(arquivo))
    xe_.Adicionar(Tipo_De_Campo(l, "1"), Tipo_De_Campo(l, "2"), Dados_Do_Campo(l));
}

void TfrmTEFSitef::Coletar_Todos_os_dados_do_INTPOS001() {
  OpenClose_File_TEF("Fechar");
  OpenClose_File_TEF("Abrir");
  // Left only for inspection; nothing reads it.
  zkt::CopyOne(plat::nativePath(ArqResposta()), plat::nativePath(PathTefTmp + "INTPOS.TXT"));
  CarregaArquivo(ArqResposta());
}

std::string TfrmTEFSitef::Coleta_Valor_Da_Transacao(const std::string& QualTrans,
                                                    const std::string& Transacao_2) const {
  const TLinhaTEF* l = xe_.Localizar(QualTrans, Transacao_2);
  return l ? l->Dados_linha : std::string();
}

int TfrmTEFSitef::Tem_Cupom_para_Imprimir_28() const {
  try {
    const long long linhas =
        numeroDoCampo(Coleta_Valor_Da_Transacao("028", "000"), cArquivoCarregado_, "028-000");
    return linhas > 0 ? 0 : 1;
  } catch (const TefError& e) {
    // Finishing a transaction the manager does not need finished is harmless; leaving one
    // pending for good, or blocking every later sale, is not.
    Log("Resposta TEF", std::string(e.what()) + "; tratada como com comprovante");
    return 0;
  }
}

std::string TfrmTEFSitef::MontaIdentificador() {
  const plat::DateTime agora = plat::clock().now();
  return zkt::StrZero(agora.hour, 2) + zkt::StrZero(agora.minute, 2) +
         zkt::StrZero(agora.second, 2);
}

std::string TfrmTEFSitef::TiraAcento_TEF(const std::string& stringin) {
  static const std::u32string mantidos = U" /%$,.-_!@#&*(){}[]<>;:?|~^\"\\+=";
  static const std::pair<std::u32string, char32_t> trocas[] = {
      {U"ÁÀÂÃ", U'A'}, {U"áàâã", U'a'}, {U"ÉÊÈ", U'E'},  {U"éêè", U'e'}, {U"ÍÎÌ", U'I'},
      {U"íîì", U'i'},  {U"ÓÒÔÕ", U'O'}, {U"óòôõ", U'o'}, {U"ÚÙÛ", U'U'}, {U"úùû", U'u'},
      {U"Ç", U'C'},    {U"ç", U'c'},    {U"ªº", U'o'},   {U"'", U' '}};
  std::u32string saida;
  for (char32_t c : plat::toU32(stringin)) {
    if ((c >= U'a' && c <= U'z') || (c >= U'A' && c <= U'Z') || (c >= U'0' && c <= U'9') ||
        mantidos.find(c) != std::u32string::npos) {
      saida += c;
      continue;
    }
    for (const auto& [de, para] : trocas)
      if (de.find(c) != std::u32string::npos) {
        saida += para;
        break;
      }
  }
  return plat::fromU32(saida);
}

std::string TfrmTEFSitef::ValorEmCentavos(double Valor) {
  const long double centavos = static_cast<long double>(Valor) * 100.0L;
  if (!std::isfinite(centavos) || std::fabs(centavos) >= 9.0e18L)
    throw TefError("Valor " + std::to_string(Valor) + " fora do intervalo de um pagamento");
  return zkt::somenteNumeros(std::to_string(std::llround(centavos)));
}

// ---- Request exchange ----

void TfrmTEFSitef::Pausa(int ms) {
  if (idleHook) idleHook();
  plat::clock().sleepMs(ms);
}

void TfrmTEFSitef::Log(const std::string& operacao, const std::string& mensagem) const {
  if (onLog) onLog(operacao, mensagem);
}

void TfrmTEFSitef::ColocaNaFila(const std::string& bytes) {
  // Written whole beside the request folder and moved in with one rename, so the manager
  // never reads half a request. A request that cannot be placed leaves nothing behind.
  const std::string staging = ArqStaging();
  try {
    plat::writeBytes(staging, bytes);
  } catch (const plat::FileError& e) {
    Delete_File_TEF(staging);
    throw TefError(e.what());
  }
  plat::flushFile(staging);
  if (!plat::renameFile(staging, ArqRequisicao())) {
    Delete_File_TEF(staging);
    throw TefError("Arquivo " + staging + " não pôde ser movido para " + ArqRequisicao());
  }
}

void TfrmTEFSitef::CriarArquivo(const std::string& Name_File, const std::string& Conteudo_File) {
  (void)Name_File;  // always INTPOS.001
  ColocaNaFila(plat::utf8ToCp1252(Conteudo_File + kCRLF));
}

int TfrmTEFSitef::Recebeu_Arquivo_INTPOSSTS_Valido(int nTentativas) {
  for (int i = 1; i <= nTentativas; ++i) {
    if (plat::fileExists(ArqStatus())) {
      Pausa(kPausaReconhecimentoMs);
      // A file that vanished meanwhile acknowledges nothing.
      if (plat::fileExists(ArqStatus()) && IntPos_STS_Igual_Enviado(cIdentificacao001) == 0)
        return 0;
    }
    Pausa(kPausaTentativaMs);
  }
  return 1;
}

int TfrmTEFSitef::IntPos_STS_Igual_Enviado(const std::string& cIdentificacao_P_Conferir) {
  for (const auto& l : LerLinhas(ArqStatus()))
    if (Tipo_De_Campo(l, "1") == "001")
      return Dados_Do_Campo(l) == cIdentificacao_P_Conferir ? 0 : 1;
  return 1;
}

int TfrmTEFSitef::IntPos_001_Igual_Enviado(const std::string& cIdentificacao_P_Conferir) {
  for (const auto& l : LerLinhas(ArqResposta()))
    if (Tipo_De_Campo(l, "1") == "001") {
      const long long lido = numeroDoCampo(Dados_Do_Campo(l), ArqResposta(), "001-000");
      const long long esperado =
          numeroDoCampo(cIdentificacao_P_Conferir, "(requisição em curso)", "001-000");
      return lido == esperado ? 0 : 1;
    }
  return 1;
}

void TfrmTEFSitef::AguardaResposta() {
  for (;;) {
    Pausa(kPausaRespostaMs);
    if (!plat::fileExists(ArqResposta())) continue;
    std::string texto;
    try {
      texto = plat::readBytes(ArqResposta());
    } catch (const plat::FileError&) {
      continue;  // taken away or still held by the manager
    }
    // A manager may write its answer in steps: it counts once its last line is 999-999.
    if (!respostaCompleta(texto)) continue;
    if (IntPos_001_Igual_Enviado(cIdentificacao001) == 1) {
      DescartaRespostaAntiga(plat::cp1252ToUtf8(texto));
      continue;
    }
    Baixa_Buffer_IntPos001();
    Coletar_Todos_os_dados_do_INTPOS001();
    return;
  }
}

void TfrmTEFSitef::DescartaRespostaAntiga(const std::string& texto) {
  // An approval that comes after its sale gave up on it is still pending at the manager:
  // kept to be undone by the recovery, never dropped unfinished.
  if (campoDoTexto(texto, "009") == "0" && precisaFinalizar(texto)) {
    const Finalizacao t{"",
                        campoDoTexto(texto, "001"),
                        campoDoTexto(texto, "002"),
                        campoDoTexto(texto, "012"),
                        campoDoTexto(texto, "027"),
                        campoDoTexto(texto, "010")};
    const std::string &id = t.id, &nsu = t.nsu;
    if (!pasta_.finalizadaComo(t)) {
      pasta_.guardaAtrasada();
      Log("Resposta TEF", "Aprovacao atrasada (identificador " + id + ", NSU " + nsu +
                              ") guardada para ser desfeita");
    }
  }
  Delete_File_TEF(ArqResposta());
}

bool TfrmTEFSitef::AguardaRespostaCompleta() {
  for (int i = 0; i < kTentativasReconhecimento; ++i) {
    if (!plat::fileExists(ArqResposta())) return false;
    if (respostaCompleta(pasta_.le(ArqResposta()))) return true;
    Pausa(kPausaTentativaMs);
  }
  return respostaCompleta(pasta_.le(ArqResposta()));
}

void TfrmTEFSitef::Baixa_Buffer_IntPos001() {
  pasta_.guardaResposta();
}

bool TfrmTEFSitef::Delete_File_TEF(const std::string& Path_Name_File) {
  if (!plat::fileExists(Path_Name_File)) return false;
  return plat::deleteFile(Path_Name_File);
}

void TfrmTEFSitef::LimpaArquivosTransacao() {
  if (!pasta_.limpaTransacao())
    Log("Resposta TEF", "Arquivo " + ArqResposta() + " nao pode ser apagado");
}

void TfrmTEFSitef::CriarArquivoTmpCupom(const std::string& Name_File, const std::string& Oque) {
  std::string o = Oque;
  for (char& c : o)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  (void)Name_File;  // always the pending-sale marker
  if (o == "CRIAR") pasta_.abreVenda();
  if (o == "ELIMINAR") pasta_.fechaVenda();
}

void TfrmTEFSitef::Application_MessageBox(const std::string& msg1, const std::string& /*msg2*/) {
  std::string m = zkt::TrocaLetra(msg1, "\r", "\\r");
  m = zkt::TrocaLetra(m, "\n", "\\n");
  str_msg_acumulada += TiraAcento_TEF(m) + kCRLF;
}

int TfrmTEFSitef::VerificaGerenciadorPadrao() {
  cConteudoArquivo.clear();
  cIdentificacao001 = MontaIdentificador();
  cConteudoArquivo =
      junta({linha("000-000", "ATV"), linha("001-000", cIdentificacao001), linha("999-999", "0")});
  int r = 1;
  try {
    CriarArquivo("INTPOS.001", cConteudoArquivo);
    r = Recebeu_Arquivo_INTPOSSTS_Valido(kTentativasReconhecimento);
  } catch (const TefError& e) {
    // A request that cannot be placed is a manager that is not there. The wait still
    // passes, so whoever repeats the check does not spin.
    Log("Gerenciador SITEF", e.what());
    for (int i = 0; i < kTentativasReconhecimento; ++i) Pausa(kPausaTentativaMs);
  }
  if (r == 1) Application_MessageBox(kGerenciadorInativo, "Atenção");
  return r;
}

void TfrmTEFSitef::AguardaGerenciador() {
  while (VerificaGerenciadorPadrao() != 0) {
  }
}

bool TfrmTEFSitef::Testa_file_multiplos(const std::string& OperIn, const std::string& nFileIn) {
  if (OperIn == "TESTE") return pasta_.temPagamento(nFileIn);
  if (OperIn == "COPIA") {
    pasta_.guardaPagamento(nFileIn);
    return true;
  }
  if (OperIn == "DELETE") {
    if (nFileIn == "ALL") {
      for (const char* n : {"1", "2", "3"}) pasta_.descartaPagamento(n);
    } else {
      pasta_.descartaPagamento(nFileIn);
    }
    return false;
  }
  if (OperIn == "TROCA") {
    pasta_.tornaCorrente(nFileIn);
    Coletar_Todos_os_dados_do_INTPOS001();
    return true;
  }
  return false;
}

// ---- Card sale ----

std::string TfrmTEFSitef::MontaRequisicao(const std::string& codigo,
                                          const std::string& cNumeroCupom,
                                          const std::string& cValor) const {
  const std::string casa =
      linha("565-008", "1=" + cnpj_da_empresa + ";2=" + std::string(kCnpjSoftwareHouse));
  const std::string id = linha("001-000", cIdentificacao001);
  const std::string fim = linha("999-999", "0");
  if (codigo == "ADM")
    return junta({linha("000-000", "ADM"), id, linha("507-001", "1"), casa, fim});
  if (codigo == "CEL") return junta({linha("000-000", "CEL"), id, linha("210-036", ""), fim});
  if (codigo == "PRE") return junta({linha("000-000", "PRE"), id, linha("003-000", "0"), fim});
  if (codigo == "PGV" || codigo == "PCB") return junta({linha("000-000", codigo), id, fim});
  if (codigo == "CARTDIGI")
    return junta({linha("000-000", "CARTDIGI"), id, linha("002-000", cNumeroCupom),
                  linha("003-000", cValor), linha("504-000", "60110024"), linha("701-000", "0"),
                  casa, fim});
  return junta({linha("000-000", "CRT"), id, linha("002-000", cNumeroCupom),
                linha("003-000", cValor), casa, fim});
}

int TfrmTEFSitef::RealizaTransacaoCRT(const std::string& cNumeroCupom,
                                      const std::string& cTipoOperacao,
                                      const std::string& quemChamou, double Valor1, double Valor2,
                                      double Valor3) {
  cConteudoArquivo.clear();
  cIdentificacao001 = MontaIdentificador();
  const std::string cValor = ValorEmCentavos(Valor1);
  temMultiplosPagtos = false;
  if (quemChamou == "EXTERNO") str_msg_acumulada.clear();
  const bool inicioDaVenda = quemChamou != "INTERNO";
  if (inicioDaVenda) {
    ValorEmCentavos(Valor2);
    ValorEmCentavos(Valor3);
    cOperacoes_ = cTipoOperacao;
    // A new sale would overwrite what describes an unfinished one.
    if (TemTransacaoPorFinalizar()) {
      Application_MessageBox(kPendente, "Atenção");
      return 1;
    }
    pedidoSemResposta_ = false;
    // Placed before the first request: until a confirmation begins, whatever this sale
    // leaves behind is undone by the recovery.
    CriarArquivoTmpCupom(kMarcador, "CRIAR");
  }

  const std::string codigo = zkt::StringDelimitador(cTipoOperacao, ";", "Inicio");
  cConteudoArquivo = MontaRequisicao(codigo, cNumeroCupom, cValor);
  CriarArquivo("INTPOS.001", cConteudoArquivo);

  int iRetorno = 1;
  if (Recebeu_Arquivo_INTPOSSTS_Valido(kTentativasReconhecimento) == 1) {
    Application_MessageBox(kSemComunicacao, "Atenção");
    // The manager may have read the request and still answer it, approved.
    pedidoSemResposta_ = true;
  } else {
    AguardaResposta();
    const std::string msg = Coleta_Valor_Da_Transacao("030", "000");
    if (Coleta_Valor_Da_Transacao("009", "000") == "0") {
      iRetorno = 0;
      if (Tem_Cupom_para_Imprimir_28() == 1 && !msg.empty()) Application_MessageBox(msg, "");
    } else {
      if (!msg.empty()) Application_MessageBox(msg, "Atenção");
      LimpaArquivosTransacao();
    }
  }
  Delete_File_TEF(ArqRequisicao());

  // The sale's own order: payment 1 is stored before payment 2 (or 3) is requested.
  const bool segundo = iRetorno == 0 && Valor2 > 0;
  if (segundo) {
    Testa_file_multiplos("COPIA", "1");
    iRetorno = ProximoPagamento(cNumeroCupom, Valor2, "2");
  }
  if (iRetorno == 0 && Valor3 > 0) {
    // Without a second payment the first is stored here, so it is finished with the rest.
    if (!segundo) Testa_file_multiplos("COPIA", "1");
    iRetorno = ProximoPagamento(cNumeroCupom, Valor3, "3");
  }

  // A failed sale drops its marker only when every request it placed was answered and
  // nothing of it can still need an undo.
  if (inicioDaVenda && iRetorno != 0 && !pedidoSemResposta_ && !pasta_.temPagamentoGuardado() &&
      !pasta_.temRespostaGuardada())
    CriarArquivoTmpCupom(kMarcador, "ELIMINAR");
  return iRetorno;
}

// The next payment of a sale, with the next code of the remembered list: stored as payment
// n when approved; when not, every stored payment of the sale is undone at once.
int TfrmTEFSitef::ProximoPagamento(const std::string& cNumeroCupom, double valor,
                                   const std::string& n) {
  LimpaArquivosTransacao();
  cOperacoes_ = zkt::StringDelimitador(cOperacoes_, ";", "Resto");
  const int r = RealizaTransacaoCRT(
      cNumeroCupom, zkt::StringDelimitador(cOperacoes_, ";", "Inicio"), "INTERNO", valor, 0, 0);
  temMultiplosPagtos = true;
  if (r == 1)
    DesfazTransacao(false);
  else
    Testa_file_multiplos("COPIA", n);
  return r;
}

// ---- Confirmation and undo ----

std::string TfrmTEFSitef::MontaFinalizacao(const std::string& cabecalho,
                                           const std::string& id) const {
  return junta({linha("000-000", cabecalho), linha("001-000", id),
                linha("002-000", Coleta_Valor_Da_Transacao("002", "000")),
                linha("010-000", Coleta_Valor_Da_Transacao("010", "000")),
                linha("012-000", Coleta_Valor_Da_Transacao("012", "000")),
                linha("027-000", Coleta_Valor_Da_Transacao("027", "000")), linha("999-999", "0")});
}

std::string TfrmTEFSitef::MensagemDesfeita(const std::string& titulo, const std::string& rede,
                                           const std::string& nsu, const std::string& valor) {
  std::string m = titulo + kCRLF;
  if (!rede.empty()) m += " Rede: " + rede + kCRLF;
  if (!nsu.empty()) m += "  NSU: " + nsu + kCRLF;
  if (!valor.empty()) m += "Valor: " + valor;
  return m;
}

// The transaction in the field table, as a finish of it would be recorded.
Finalizacao TfrmTEFSitef::TransacaoCarregada(const std::string& operacao) const {
  return {operacao,
          Coleta_Valor_Da_Transacao("001", "000"),
          Coleta_Valor_Da_Transacao("002", "000"),
          Coleta_Valor_Da_Transacao("012", "000"),
          Coleta_Valor_Da_Transacao("027", "000"),
          Coleta_Valor_Da_Transacao("010", "000")};
}

// Places the CNF or NCN of the answer in the field table and awaits its acknowledgment;
// 0 when acknowledged. The request is kept as INTPOS.BKP before the answer files are
// cleared (a late answer's files are the caller's), and it goes once the acknowledgment is in
// the record. A transaction the record holds as finished is never finished again, least of
// all the other way.
int TfrmTEFSitef::FinalizaCorrente(const std::string& cabecalho, const std::string& id,
                                   const std::string& mensagem, bool removerMarcador,
                                   bool atrasada) {
  const Finalizacao transacao = TransacaoCarregada(cabecalho);
  const std::string &nsu = transacao.nsu, &idResposta = transacao.id;
  if (const auto feita = pasta_.finalizadaComo(transacao)) {
    Log("Recuperacao TEF", "Transacao NSU " + nsu + " (identificador " + idResposta +
                               ") ja finalizada com " + feita->operacao + "; " + cabecalho +
                               " nao enviado");
    if (!atrasada) LimpaArquivosTransacao();
    if (removerMarcador) CriarArquivoTmpCupom(kMarcador, "ELIMINAR");
    return 0;
  }
  cConteudoArquivo = MontaFinalizacao(cabecalho, id);
  pasta_.salvaFinalizacao(plat::utf8ToCp1252(cConteudoArquivo + kCRLF));
  if (!atrasada) LimpaArquivosTransacao();
  // An old acknowledgment may carry the same identifier as this request.
  Delete_File_TEF(ArqStatus());
  CriarArquivo("INTPOS.001", cConteudoArquivo);
  if (removerMarcador) CriarArquivoTmpCupom(kMarcador, "ELIMINAR");
  if (!mensagem.empty()) Application_MessageBox(mensagem, "");
  if (Recebeu_Arquivo_INTPOSSTS_Valido(kTentativasReconhecimento) != 0) return 1;
  pasta_.finalizacaoReconhecida(transacao);
  return 0;
}

int TfrmTEFSitef::ConfirmaTransacao() {
  CriarArquivoTmpCupom(kMarcador, "ELIMINAR");
  if (temMultiplosPagtos) {
    temMultiplosPagtos = false;
    int r = 0;
    for (const char* n : {"1", "2", "3"})
      if (r == 0 && Testa_file_multiplos("TESTE", n)) {
        Testa_file_multiplos("TROCA", n);
        r = ConfirmaUma();
      }
    if (r == 0) Testa_file_multiplos("DELETE", "ALL");
    temMultiplosPagtos = true;
    return r;
  }
  return ConfirmaUma();
}

int TfrmTEFSitef::ConfirmaUma() {
  AguardaGerenciador();
  if (Tem_Cupom_para_Imprimir_28() == 1) {
    LimpaArquivosTransacao();
    return 0;
  }
  cIdentificacao001 = MontaIdentificador();
  return FinalizaCorrente("CNF", cIdentificacao001, "", false);
}

int TfrmTEFSitef::NaoConfirmaTransacao() {
  return DesfazTransacao(true);
}

int TfrmTEFSitef::DesfazTransacao(bool removerMarcador) {
  if (!temMultiplosPagtos) return DesfazUma(removerMarcador);
  temMultiplosPagtos = false;
  int r = 0;
  for (const char* n : {"1", "2", "3"})
    if (r == 0 && Testa_file_multiplos("TESTE", n)) {
      Testa_file_multiplos("TROCA", n);
      r = DesfazUma(false);
    }
  if (r == 0) {
    Testa_file_multiplos("DELETE", "ALL");
    // Only now that no stored payment is left may the marker go.
    if (removerMarcador) CriarArquivoTmpCupom(kMarcador, "ELIMINAR");
  }
  temMultiplosPagtos = true;
  return r;
}

int TfrmTEFSitef::DesfazUma(bool removerMarcador) {
  AguardaGerenciador();
  const std::string rede = Coleta_Valor_Da_Transacao("010", "000");
  const std::string nsu = Coleta_Valor_Da_Transacao("012", "000");
  const std::string valor = Coleta_Valor_Da_Transacao("003", "000");
  cIdentificacao001 = Coleta_Valor_Da_Transacao("001", "000");
  const int r = FinalizaCorrente(
      "NCN", cIdentificacao001,
      MensagemDesfeita("Transação não Efetuada. Favor Reter o Cupom", rede, nsu, valor),
      removerMarcador);
  if (fiscal::ImpressoraEstaAtiva_TEF()) fiscal::Fecha_Cupom_Vinculado_TEF();
  return r;
}

// ---- Pending-transaction recovery ----

bool TfrmTEFSitef::ReenviaBkp() {
  CarregaArquivo(ArqBkp());
  const std::string op = Coleta_Valor_Da_Transacao("000", "000");
  cIdentificacao001 = Coleta_Valor_Da_Transacao("001", "000");
  if (op != "CNF" && op != "NCN") return true;
  const Finalizacao transacao = TransacaoCarregada(op);
  const std::string& nsu = transacao.nsu;
  if (const auto feita = pasta_.finalizadaComo(transacao)) {
    // Acknowledged before a cut, or finished the other way: not sent again.
    Log("Recuperacao TEF", "Transacao NSU " + nsu + " ja finalizada com " + feita->operacao + "; " +
                               op + " salvo descartado");
    pasta_.apaga(ArqBkp());
    return true;
  }
  iRetorno_ = 1;
  const std::string bytes = pasta_.le(ArqBkp());
  // An old acknowledgment may carry the same identifier as this request.
  Delete_File_TEF(ArqStatus());
  ColocaNaFila(bytes);
  Application_MessageBox("Reenvio da última transação " + op, "");
  if (Recebeu_Arquivo_INTPOSSTS_Valido(kTentativasReconhecimento) == 0) {
    pasta_.finalizacaoReconhecida(transacao);
    iRetorno_ = 0;
    return true;
  }
  Application_MessageBox(kSemComunicacao, "Atenção");
  return false;
}

// The manager may have written a late answer over the copy the engine put back in RESP\ for
// finishing. Putting the backup answer back would then lose that approval: it is kept to be
// undone first, like any approval that came after its sale gave up on it.
void TfrmTEFSitef::GuardaRespostaAlheia() {
  if (!pasta_.temResposta() || !pasta_.temRespostaGuardada()) return;
  std::string resposta, guardada;
  try {
    resposta = plat::cp1252ToUtf8(pasta_.le(ArqResposta()));
    guardada = plat::cp1252ToUtf8(pasta_.le(ArqBackup()));
  } catch (const TefError& e) {
    Log("Recuperacao TEF", e.what());
    return;
  }
  if (!respostaCompleta(resposta)) return;
  const auto transacao = [](const std::string& t) {
    return Finalizacao{"",
                       campoDoTexto(t, "001"),
                       campoDoTexto(t, "002"),
                       campoDoTexto(t, "012"),
                       campoDoTexto(t, "027"),
                       campoDoTexto(t, "010")};
  };
  const Finalizacao a = transacao(resposta), g = transacao(guardada);
  if (a.id == g.id && a.mesmaTransacao(g)) return;
  Log("Recuperacao TEF", "Resposta em " + ArqResposta() + " (identificador " + a.id +
                             ") nao e a da transacao guardada");
  DescartaRespostaAntiga(resposta);
}

// Undoes the approvals that came after their sale had given up on them.
bool TfrmTEFSitef::DesfazAtrasadas() {
  for (int n = 1; n <= PastaDeRecuperacao::kVagasAtrasadas; ++n) {
    if (!plat::fileExists(pasta_.Atrasada(n))) continue;
    AguardaGerenciador();
    CarregaArquivo(pasta_.Atrasada(n));
    cNomeRede_ = Coleta_Valor_Da_Transacao("010", "000");
    cNSU_ = Coleta_Valor_Da_Transacao("012", "000");
    cValor_ = Coleta_Valor_Da_Transacao("003", "000");
    cIdentificacao001 = Coleta_Valor_Da_Transacao("001", "000");
    const int r = FinalizaCorrente(
        "NCN", cIdentificacao001,
        MensagemDesfeita("Transação não efetuada. Favor reter o cupom", cNomeRede_, cNSU_, cValor_),
        false, true);
    if (r != 0) {
      iRetorno_ = 1;
      return false;
    }
    Log("Recuperacao TEF", "Aprovacao atrasada NSU " + cNSU_ + " desfeita");
    pasta_.descartaAtrasada(n);
  }
  return true;
}

void TfrmTEFSitef::Cancela_Transacao_TEF(bool eliminarTesteZKT) {
  finalizacaoPendente_ = false;
  const bool guardada = pasta_.temRespostaGuardada();
  if (guardada) pasta_.restauraResposta();
  if (!pasta_.temResposta()) return;
  // An answer the manager is still writing is not read as final.
  if (!guardada && !AguardaRespostaCompleta()) {
    if (!pasta_.temResposta()) return;
    Log("Recuperacao TEF",
        "Resposta incompleta em " + ArqResposta() + "; fica para a proxima recuperacao");
    finalizacaoPendente_ = true;
    iRetorno_ = 1;
    return;
  }
  AguardaGerenciador();
  Coletar_Todos_os_dados_do_INTPOS001();
  if (Tem_Cupom_para_Imprimir_28() == 1) {
    LimpaArquivosTransacao();
    return;
  }
  cIdentificacao001 = Coleta_Valor_Da_Transacao("001", "000");
  cNomeRede_ = Coleta_Valor_Da_Transacao("010", "000");
  cValor_ = Coleta_Valor_Da_Transacao("003", "000");
  int r;
  // An answer the engine never kept (no backup answer, no stored payment) was never shown to
  // the cloud, so nobody can have confirmed it.
  if (pasta_.temMarcador() || (eliminarTesteZKT && !guardada)) {
    cNSU_ = Coleta_Valor_Da_Transacao("012", "000");
    r = FinalizaCorrente(
        "NCN", cIdentificacao001,
        MensagemDesfeita("Transação não efetuada. Favor reter o cupom", cNomeRede_, cNSU_, cValor_),
        eliminarTesteZKT);
    select_.InitCom(select_.PortaCom_ECF);
    if (fiscal::ImpressoraEstaAtiva_TEF()) fiscal::RelatorioECF("", "3");
  } else {
    r = FinalizaCorrente("CNF", cIdentificacao001,
                         std::string("Última transação foi confirmada. Favor") + kCRLF +
                             "Rede: " + cNomeRede_ + kCRLF + "Valor de: " + cValor_ + kCRLF +
                             "reimprimir último cupom. ",
                         false);
    select_.InitCom(select_.PortaCom_ECF);
    if (fiscal::ImpressoraEstaAtiva_TEF()) fiscal::Fecha_Cupom_Vinculado_TEF();
    fiscal::EndComm();
  }
  if (r != 0) {
    finalizacaoPendente_ = true;
    iRetorno_ = 1;
  }
}

int TfrmTEFSitef::Verifica_Transacao_Pendente() {
  pasta_.limpaStaging();
  const int r = FinalizaPendentes();
  pasta_.limpaStaging();
  return r;
}

int TfrmTEFSitef::FinalizaPendentes() {
  iRetorno_ = 0;
  finalizacaoPendente_ = false;
  if (!select_.temTefSitef) return 0;
  // An unacknowledged CNF or NCN goes first: every later request would overwrite it.
  if (pasta_.temFinalizacaoSalva() && !ReenviaBkp()) return iRetorno_;
  GuardaRespostaAlheia();
  if (!DesfazAtrasadas()) return iRetorno_;
  if (pasta_.temPagamentoGuardado()) {
    if (pasta_.temRespostaGuardada() || pasta_.temResposta()) {
      Cancela_Transacao_TEF(false);
      if (finalizacaoPendente_) return iRetorno_;
    }
    for (const char* n : {"1", "2", "3"}) {
      if (!Testa_file_multiplos("TESTE", n)) continue;
      Testa_file_multiplos("TROCA", n);
      Cancela_Transacao_TEF(false);
      // Stop at the first payment left unacknowledged; its stored copy stays for next time.
      if (finalizacaoPendente_) return iRetorno_;
      Testa_file_multiplos("DELETE", n);
    }
    CriarArquivoTmpCupom(kMarcador, "ELIMINAR");
  } else {
    Cancela_Transacao_TEF(true);
  }
  // A marker with nothing left to finish describes no transaction.
  if (!finalizacaoPendente_ && !pasta_.temTrabalhoPorFinalizar())
    CriarArquivoTmpCupom(kMarcador, "ELIMINAR");
  return iRetorno_;
}

}  // namespace tef

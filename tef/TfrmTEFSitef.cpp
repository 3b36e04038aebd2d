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
const char* const kPendente =
    "Existe transação TEF anterior não finalizada. Nova transação não realizada.";

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

std::vector<std::string> separaLinhas(const std::string& texto) {
  std::vector<std::string> linhas;
  std::string atual;
  for (size_t i = 0; i < texto.size(); ++i) {
    const char c = texto[i];
    if (c == '\r' || c == '\n') {
      linhas.push_back(atual);
      atual.clear();
      if (c == '\r' && i + 1 < texto.size() && texto[i + 1] == '\n') ++i;
    } else {
      atual += c;
    }
  }
  if (!atual.empty()) linhas.push_back(atual);
  return linhas;
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
    return separaLinhas(plat::readText(arquivo));
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
  const long long linhas =
      numeroDoCampo(Coleta_Valor_Da_Transacao("028", "000"), cArquivoCarregado_, "028-000");
  return linhas > 0 ? 0 : 1;
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

void TfrmTEFSitef::ColocaNaFila(const std::string& bytes) {
  // Written whole beside the request folder and moved in with one rename, so the manager
  // never reads half a request.
  const std::string staging = ArqStaging();
  try {
    plat::writeBytes(staging, bytes);
  } catch (const plat::FileError& e) {
    throw TefError(e.what());
  }
  plat::flushFile(staging);
  if (!plat::renameFile(staging, ArqRequisicao()))
    throw TefError("Arquivo " + staging + " não pôde ser movido para " + ArqRequisicao());
}

void TfrmTEFSitef::CriarArquivo(const std::string& Name_File, const std::string& Conteudo_File) {
  (void)Name_File;  // always INTPOS.001
  ColocaNaFila(plat::utf8ToCp1252(Conteudo_File + kCRLF));
}

int TfrmTEFSitef::Recebeu_Arquivo_INTPOSSTS_Valido(int nTentativas) {
  for (int i = 1; i <= nTentativas; ++i) {
    if (plat::fileExists(ArqStatus())) {
      Pausa(1500);
      // A file that vanished meanwhile acknowledges nothing.
      if (plat::fileExists(ArqStatus()) && IntPos_STS_Igual_Enviado(cIdentificacao001) == 0)
        return 0;
    }
    Pausa(1000);
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
    Pausa(500);
    if (!plat::fileExists(ArqResposta())) continue;
    if (IntPos_001_Igual_Enviado(cIdentificacao001) == 1) {
      Delete_File_TEF(ArqResposta());  // answer to an earlier request
      continue;
    }
    Baixa_Buffer_IntPos001();
    Coletar_Todos_os_dados_do_INTPOS001();
    return;
  }
}

void TfrmTEFSitef::Copia(const std::string& origem, const std::string& destino) {
  try {
    plat::copyFileAtomic(origem, destino);
  } catch (const plat::FileError& e) {
    throw TefError(e.what());
  }
}

void TfrmTEFSitef::Baixa_Buffer_IntPos001() {
  Copia(ArqResposta(), ArqBackup());
  plat::flushFile(ArqBackup());
}

bool TfrmTEFSitef::Delete_File_TEF(const std::string& Path_Name_File) {
  if (!plat::fileExists(Path_Name_File)) return false;
  return plat::deleteFile(Path_Name_File);
}

void TfrmTEFSitef::LimpaArquivosTransacao() {
  // INTPOS.BKP is not touched here: it goes only once the request it holds is acknowledged.
  Delete_File_TEF(ArqResposta());
  Delete_File_TEF(ArqBackup());
}

void TfrmTEFSitef::SalvaBkp(const std::string& requisicao) {
  try {
    plat::writeBytesAtomic(ArqBkp(), plat::utf8ToCp1252(requisicao + kCRLF));
  } catch (const plat::FileError& e) {
    throw TefError(e.what());
  }
}

void TfrmTEFSitef::CriarArquivoTmpCupom(const std::string& Name_File, const std::string& Oque) {
  std::string o = Oque;
  for (char& c : o)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  const std::string arquivo = PathAplicacao + Name_File;
  if (o == "CRIAR") {
    try {
      plat::writeBytesAtomic(arquivo, std::string("teste") + kCRLF);
    } catch (const plat::FileError& e) {
      throw TefError(e.what());
    }
  } else if (o == "ELIMINAR") {
    Delete_File_TEF(arquivo);
  }
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
  CriarArquivo("INTPOS.001", cConteudoArquivo);
  const int r = Recebeu_Arquivo_INTPOSSTS_Valido(7);
  if (r == 1) Application_MessageBox(kGerenciadorInativo, "Atenção");
  return r;
}

void TfrmTEFSitef::AguardaGerenciador() {
  while (VerificaGerenciadorPadrao() != 0) {
  }
}

bool TfrmTEFSitef::Testa_file_multiplos(const std::string& OperIn, const std::string& nFileIn) {
  if (OperIn == "TESTE") return plat::fileExists(ArqMulti(nFileIn));
  if (OperIn == "COPIA") {
    // A payment that is not stored could never be finished: stop here rather than go on.
    Copia(ArqBackup(), ArqMulti(nFileIn));
    return true;
  }
  if (OperIn == "DELETE") {
    if (nFileIn == "ALL") {
      for (const char* n : {"1", "2", "3"}) Delete_File_TEF(ArqMulti(n));
    } else {
      Delete_File_TEF(ArqMulti(nFileIn));
    }
    return false;
  }
  if (OperIn == "TROCA") {
    // INTPOS.BKP is left alone: it may hold a request not yet acknowledged.
    Delete_File_TEF(ArqBackup());
    Delete_File_TEF(ArqResposta());
    for (const std::string& destino : {ArqBackup(), ArqResposta()})
      Copia(ArqMulti(nFileIn), destino);
    Coletar_Todos_os_dados_do_INTPOS001();
    return true;
  }
  return false;
}

bool TfrmTEFSitef::TemPagamentoGuardado() {
  return Testa_file_multiplos("TESTE", "1") || Testa_file_multiplos("TESTE", "2") ||
         Testa_file_multiplos("TESTE", "3");
}

// ---- Card sale ----

std::string TfrmTEFSitef::MontaRequisicao(const std::string& codigo,
                                          const std::string& cNumeroCupom,
                                          const std::string& cValor) const {
  const std::string casa = linha("565-008", "1=" + cnpj_da_empresa + ";2=52718094000236");
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

bool TfrmTEFSitef::BkpEhConfirmacao() {
  if (!plat::fileExists(ArqBkp())) return false;
  for (const auto& l : LerLinhas(ArqBkp()))
    if (Tipo_De_Campo(l, "1") == "000") {
      const std::string op = Dados_Do_Campo(l);
      return op == "CNF" || op == "NCN";
    }
  return false;
}

bool TfrmTEFSitef::TemTransacaoPorFinalizar() {
  return plat::fileExists(ArqBackup()) || TemPagamentoGuardado() || BkpEhConfirmacao();
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
  bool respondida = false;
  if (Recebeu_Arquivo_INTPOSSTS_Valido(7) == 1) {
    Application_MessageBox(kSemComunicacao, "Atenção");
  } else {
    AguardaResposta();
    respondida = true;
    const std::string msg = Coleta_Valor_Da_Transacao("030", "000");
    if (Coleta_Valor_Da_Transacao("009", "000") == "0") {
      iRetorno = 0;
      if (Tem_Cupom_para_Imprimir_28() == 1 && !msg.empty()) Application_MessageBox(msg, "");
    } else {
      if (!msg.empty()) Application_MessageBox(msg, "Atenção");
      LimpaArquivosTransacao();
    }
  }
  // A request gone from the folder without an answer was taken: an answer may still come.
  if (!Delete_File_TEF(ArqRequisicao()) && !respondida) pedidoSemResposta_ = true;

  const bool segundo = iRetorno == 0 && Valor2 > 0;
  if (segundo) {
    Testa_file_multiplos("COPIA", "1");
    LimpaArquivosTransacao();
    cOperacoes_ = zkt::StringDelimitador(cOperacoes_, ";", "Resto");
    iRetorno = RealizaTransacaoCRT(cNumeroCupom, zkt::StringDelimitador(cOperacoes_, ";", "Inicio"),
                                   "INTERNO", Valor2, 0, 0);
    temMultiplosPagtos = true;
    if (iRetorno == 1)
      DesfazTransacao(false);
    else
      Testa_file_multiplos("COPIA", "2");
  }
  if (iRetorno == 0 && Valor3 > 0) {
    // Without a second payment the first is stored here, so it is finished with the rest.
    if (!segundo) Testa_file_multiplos("COPIA", "1");
    LimpaArquivosTransacao();
    cOperacoes_ = zkt::StringDelimitador(cOperacoes_, ";", "Resto");
    iRetorno = RealizaTransacaoCRT(cNumeroCupom, zkt::StringDelimitador(cOperacoes_, ";", "Inicio"),
                                   "INTERNO", Valor3, 0, 0);
    temMultiplosPagtos = true;
    if (iRetorno == 1)
      DesfazTransacao(false);
    else
      Testa_file_multiplos("COPIA", "3");
  }

  // A failed sale drops its marker only when nothing of it can still need an undo.
  if (inicioDaVenda && iRetorno != 0 && !pedidoSemResposta_ && !TemPagamentoGuardado() &&
      !plat::fileExists(ArqBackup()))
    CriarArquivoTmpCupom(kMarcador, "ELIMINAR");
  return iRetorno;
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
  cConteudoArquivo = MontaFinalizacao("CNF", cIdentificacao001);
  // Kept before the answer goes, so a stop at any point leaves the CNF to be re-sent.
  SalvaBkp(cConteudoArquivo);
  LimpaArquivosTransacao();
  Delete_File_TEF(ArqStatus());
  CriarArquivo("INTPOS.001", cConteudoArquivo);
  if (Recebeu_Arquivo_INTPOSSTS_Valido(7) == 1) return 1;
  Delete_File_TEF(ArqBkp());
  return 0;
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
  cConteudoArquivo = MontaFinalizacao("NCN", cIdentificacao001);
  SalvaBkp(cConteudoArquivo);
  LimpaArquivosTransacao();
  Delete_File_TEF(ArqStatus());
  CriarArquivo("INTPOS.001", cConteudoArquivo);
  Application_MessageBox(
      MensagemDesfeita("Transação não Efetuada. Favor Reter o Cupom", rede, nsu, valor), "");
  if (removerMarcador) CriarArquivoTmpCupom(kMarcador, "ELIMINAR");
  int r = 1;
  if (Recebeu_Arquivo_INTPOSSTS_Valido(7) == 0) {
    Delete_File_TEF(ArqBkp());
    r = 0;
  }
  if (fiscal::ImpressoraEstaAtiva_TEF()) fiscal::Fecha_Cupom_Vinculado_TEF();
  return r;
}

// ---- Pending-transaction recovery ----

bool TfrmTEFSitef::ReenviaBkp() {
  CarregaArquivo(ArqBkp());
  const std::string op = Coleta_Valor_Da_Transacao("000", "000");
  cIdentificacao001 = Coleta_Valor_Da_Transacao("001", "000");
  if (op != "CNF" && op != "NCN") return true;
  iRetorno_ = 1;
  std::string bytes;
  try {
    bytes = plat::readBytes(ArqBkp());
  } catch (const plat::FileError& e) {
    throw TefError(e.what());
  }
  // An old acknowledgment may carry the same identifier as this request.
  Delete_File_TEF(ArqStatus());
  ColocaNaFila(bytes);
  Application_MessageBox("Reenvio da última transação " + op, "");
  if (Recebeu_Arquivo_INTPOSSTS_Valido(7) == 0) {
    Delete_File_TEF(ArqBkp());
    iRetorno_ = 0;
    return true;
  }
  Application_MessageBox(kSemComunicacao, "Atenção");
  return false;
}

void TfrmTEFSitef::Cancela_Transacao_TEF(bool eliminarTesteZKT) {
  finalizacaoPendente_ = false;
  if (plat::fileExists(ArqBackup())) Copia(ArqBackup(), ArqResposta());
  if (plat::fileExists(ArqResposta())) {
    AguardaGerenciador();
    Coletar_Todos_os_dados_do_INTPOS001();
    if (Tem_Cupom_para_Imprimir_28() == 1) {
      LimpaArquivosTransacao();
      return;
    }
    if (plat::fileExists(ArqMarcador())) {
      cNomeRede_ = Coleta_Valor_Da_Transacao("010", "000");
      cNSU_ = Coleta_Valor_Da_Transacao("012", "000");
      cValor_ = Coleta_Valor_Da_Transacao("003", "000");
      cIdentificacao001 = Coleta_Valor_Da_Transacao("001", "000");
      cConteudoArquivo = MontaFinalizacao("NCN", cIdentificacao001);
      SalvaBkp(cConteudoArquivo);
      LimpaArquivosTransacao();
      Delete_File_TEF(ArqStatus());
      CriarArquivo("INTPOS.001", cConteudoArquivo);
      if (eliminarTesteZKT) CriarArquivoTmpCupom(kMarcador, "ELIMINAR");
      Application_MessageBox(MensagemDesfeita("Transação não efetuada. Favor reter o cupom",
                                              cNomeRede_, cNSU_, cValor_),
                             "");
      // Awaited like the confirmation, so a later request cannot overwrite it unseen.
      if (Recebeu_Arquivo_INTPOSSTS_Valido(7) == 0)
        Delete_File_TEF(ArqBkp());
      else
        finalizacaoPendente_ = true;
      select_.InitCom(select_.PortaCom_ECF);
      if (fiscal::ImpressoraEstaAtiva_TEF()) fiscal::RelatorioECF("", "3");
    } else {
      cIdentificacao001 = Coleta_Valor_Da_Transacao("001", "000");
      cValor_ = Coleta_Valor_Da_Transacao("003", "000");
      cNomeRede_ = Coleta_Valor_Da_Transacao("010", "000");
      cConteudoArquivo = MontaFinalizacao("CNF", cIdentificacao001);
      SalvaBkp(cConteudoArquivo);
      LimpaArquivosTransacao();
      Delete_File_TEF(ArqStatus());
      CriarArquivo("INTPOS.001", cConteudoArquivo);
      Application_MessageBox(std::string("Última transação foi confirmada. Favor") + kCRLF +
                                 "Rede: " + cNomeRede_ + kCRLF + "Valor de: " + cValor_ + kCRLF +
                                 "reimprimir último cupom. ",
                             "");
      if (Recebeu_Arquivo_INTPOSSTS_Valido(7) == 0)
        Delete_File_TEF(ArqBkp());
      else
        finalizacaoPendente_ = true;
      select_.InitCom(select_.PortaCom_ECF);
      if (fiscal::ImpressoraEstaAtiva_TEF()) fiscal::Fecha_Cupom_Vinculado_TEF();
      fiscal::EndComm();
    }
    if (finalizacaoPendente_) iRetorno_ = 1;
    return;
  }
  if (plat::fileExists(ArqBkp()) && !ReenviaBkp()) finalizacaoPendente_ = true;
}

int TfrmTEFSitef::Verifica_Transacao_Pendente() {
  iRetorno_ = 0;
  if (!select_.temTefSitef) return 0;
  // An unacknowledged CNF or NCN goes first: every later request would overwrite it.
  if (BkpEhConfirmacao() && !ReenviaBkp()) return iRetorno_;
  if (TemPagamentoGuardado()) {
    if (plat::fileExists(ArqBackup()) || plat::fileExists(ArqResposta())) {
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
  return iRetorno_;
}

}  // namespace tef

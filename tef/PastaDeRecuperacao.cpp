#include "tef/PastaDeRecuperacao.h"

#include "common/record_line.h"
#include "platform/encoding.h"
#include "platform/fs.h"

namespace tef {

namespace {

const char* const kCRLF = "\r\n";

}  // namespace

std::vector<std::string> linhasDoTexto(const std::string& texto) {
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

std::string campoDoTexto(const std::string& texto, const std::string& codigo,
                         const std::string& seq) {
  const std::string chave = codigo + "-" + seq;
  for (const auto& l : linhasDoTexto(texto))
    if (l.compare(0, 7, chave) == 0) return l.size() > 10 ? l.substr(10) : std::string();
  return {};
}

bool respostaCompleta(const std::string& texto) {
  const auto linhas = linhasDoTexto(texto);
  for (auto it = linhas.rbegin(); it != linhas.rend(); ++it) {
    if (it->empty()) continue;
    return it->compare(0, 7, "999-999") == 0;
  }
  return false;
}

bool precisaFinalizar(const std::string& texto) {
  const std::string v = campoDoTexto(texto, "028");
  for (char c : v)
    if (c < '0' || c > '9') return true;
  return v.find_first_not_of('0') != std::string::npos;
}

PastaDeRecuperacao::PastaDeRecuperacao(std::string pastaBackup, std::string pastaResposta,
                                       std::string pastaTemporaria)
    : pastaBackup_(std::move(pastaBackup)),
      pastaResposta_(std::move(pastaResposta)),
      pastaTemporaria_(std::move(pastaTemporaria)) {}

std::string PastaDeRecuperacao::staging() const {
  // Without the temporary folder the copy is staged beside its target, as a last resort.
  return plat::dirExists(pastaTemporaria_) ? pastaTemporaria_ : std::string();
}

void PastaDeRecuperacao::copia(const std::string& de, const std::string& para) {
  try {
    plat::copyFileAtomic(de, para, staging());
  } catch (const plat::FileError& e) {
    throw TefError(e.what());
  }
}

void PastaDeRecuperacao::grava(const std::string& arquivo, const std::string& bytes) {
  try {
    plat::writeBytesAtomic(arquivo, bytes, false, staging());
  } catch (const plat::FileError& e) {
    throw TefError(e.what());
  }
}

void PastaDeRecuperacao::limpaStaging() {
  // The rename had not happened, so the old file is whole: what a cut left is never needed.
  if (!plat::dirExists(pastaTemporaria_)) return;
  std::vector<std::string> alvos = {Resposta(), RespostaGuardada(), FinalizacaoSalva(), Marcador(),
                                    Registro()};
  for (const char* n : {"1", "2", "3"}) alvos.push_back(Pagamento(n));
  for (int n = 1; n <= kVagasAtrasadas; ++n) alvos.push_back(Atrasada(n));
  for (const auto& alvo : alvos) apaga(plat::stagingFileFor(alvo, pastaTemporaria_));
}

std::string PastaDeRecuperacao::le(const std::string& arquivo) const {
  try {
    return plat::readBytes(arquivo);
  } catch (const plat::FileError& e) {
    throw TefError(e.what());
  }
}

bool PastaDeRecuperacao::apaga(const std::string& arquivo) {
  if (!plat::fileExists(arquivo)) return false;
  return plat::deleteFile(arquivo);
}

// ---- what is there ----

bool PastaDeRecuperacao::temResposta() const {
  return plat::fileExists(Resposta());
}

bool PastaDeRecuperacao::temRespostaGuardada() const {
  return plat::fileExists(RespostaGuardada());
}

bool PastaDeRecuperacao::temMarcador() const {
  return plat::fileExists(Marcador());
}

bool PastaDeRecuperacao::temPagamento(const std::string& n) const {
  return plat::fileExists(Pagamento(n));
}

bool PastaDeRecuperacao::temPagamentoGuardado() const {
  return temPagamento("1") || temPagamento("2") || temPagamento("3");
}

bool PastaDeRecuperacao::temFinalizacaoSalva() const {
  if (!plat::fileExists(FinalizacaoSalva())) return false;
  const std::string op = plat::cp1252ToUtf8(campoDoTexto(le(FinalizacaoSalva()), "000"));
  return op == "CNF" || op == "NCN";
}

bool PastaDeRecuperacao::temAtrasada() const {
  for (int n = 1; n <= kVagasAtrasadas; ++n)
    if (plat::fileExists(Atrasada(n))) return true;
  return false;
}

bool PastaDeRecuperacao::temTrabalhoPorFinalizar() const {
  if (temPagamentoGuardado() || temFinalizacaoSalva() || temAtrasada()) return true;
  // A kept answer without receipt lines (an approved ADM, say) needs nothing.
  if (temRespostaGuardada()) {
    try {
      return precisaFinalizar(le(RespostaGuardada()));
    } catch (const TefError&) {
      return true;
    }
  }
  return false;
}

// ---- transitions ----

void PastaDeRecuperacao::abreVenda() {
  grava(Marcador(), std::string("teste") + kCRLF);
}

void PastaDeRecuperacao::guardaResposta() {
  copia(Resposta(), RespostaGuardada());
  plat::flushFile(RespostaGuardada());
}

void PastaDeRecuperacao::guardaPagamento(const std::string& n) {
  // A payment that is not stored could never be finished: stop here rather than go on.
  copia(RespostaGuardada(), Pagamento(n));
}

void PastaDeRecuperacao::tornaCorrente(const std::string& n) {
  // INTPOS.BKP is left alone: it may hold a request not yet acknowledged.
  apaga(RespostaGuardada());
  apaga(Resposta());
  copia(Pagamento(n), RespostaGuardada());
  copia(Pagamento(n), Resposta());
}

void PastaDeRecuperacao::descartaPagamento(const std::string& n) {
  apaga(Pagamento(n));
}

void PastaDeRecuperacao::restauraResposta() {
  copia(RespostaGuardada(), Resposta());
}

void PastaDeRecuperacao::salvaFinalizacao(const std::string& bytes) {
  grava(FinalizacaoSalva(), bytes);
}

bool PastaDeRecuperacao::limpaTransacao() {
  // INTPOS.BKP is not touched here: it goes only once the request it holds is acknowledged.
  apaga(Resposta());
  const bool limpa = !temResposta();
  apaga(RespostaGuardada());
  return limpa;
}

void PastaDeRecuperacao::finalizacaoReconhecida(const Finalizacao& f) {
  std::string texto;
  auto anteriores = registro();
  anteriores.push_back(f);
  const size_t desde =
      anteriores.size() > kFinalizacoesGuardadas ? anteriores.size() - kFinalizacoesGuardadas : 0;
  for (size_t i = desde; i < anteriores.size(); ++i) {
    const auto& r = anteriores[i];
    for (const std::string* v : {&r.operacao, &r.id, &r.cupom, &r.nsu, &r.final})
      texto += *v + "\t";
    texto += r.rede + kCRLF;
  }
  grava(Registro(), texto);
  apaga(FinalizacaoSalva());
}

void PastaDeRecuperacao::fechaVenda() {
  apaga(Marcador());
}

void PastaDeRecuperacao::guardaAtrasada() {
  for (int n = 1; n <= kVagasAtrasadas; ++n)
    if (!plat::fileExists(Atrasada(n))) {
      copia(Resposta(), Atrasada(n));
      return;
    }
  throw TefError("Sem lugar para guardar a resposta atrasada " + Resposta());
}

void PastaDeRecuperacao::descartaAtrasada(int n) {
  apaga(Atrasada(n));
}

std::vector<Finalizacao> PastaDeRecuperacao::registro() const {
  std::vector<Finalizacao> out;
  if (!plat::fileExists(Registro())) return out;
  for (const auto& l : linhasDoTexto(le(Registro()))) {
    auto p = zkt::splitOn(l, '\t');
    if (p.size() < 6) continue;
    // The network name is last: it may itself hold a tab.
    std::string rede = p[5];
    for (size_t i = 6; i < p.size(); ++i) rede += "\t" + p[i];
    out.push_back({p[0], p[1], p[2], p[3], p[4], rede});
  }
  return out;
}

std::optional<Finalizacao> PastaDeRecuperacao::finalizadaComo(const Finalizacao& transacao) const {
  const auto r = registro();
  for (auto it = r.rbegin(); it != r.rend(); ++it)
    if (it->mesmaTransacao(transacao)) return *it;
  return std::nullopt;
}

std::vector<Finalizacao> PastaDeRecuperacao::transacoesPendentes() const {
  std::vector<Finalizacao> out;
  std::vector<std::string> arquivos = {RespostaGuardada(), Resposta()};
  for (const char* n : {"1", "2", "3"}) arquivos.push_back(Pagamento(n));
  for (const std::string& a : arquivos) {
    if (!plat::fileExists(a)) continue;
    const std::string t = le(a);
    out.push_back({"", campoDoTexto(t, "001"), campoDoTexto(t, "002"), campoDoTexto(t, "012"),
                   campoDoTexto(t, "027"), campoDoTexto(t, "010")});
  }
  return out;
}

}  // namespace tef

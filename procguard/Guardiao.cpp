#include "procguard/Guardiao.h"

#include <exception>
#include <utility>

#include "common/funcoes_zkt.h"
#include "common/ini.h"
#include "platform/clock.h"
#include "platform/fs.h"
#include "platform/process.h"

namespace procguard {
namespace {

constexpr const char* kConteudoTeste = "teste de sincronizador... \r\n";

std::string Formata(const char* formato, const plat::DateTime& dt) {
  return zkt::Formata_Data(formato, dt, zkt::Programa::Guardian);
}

}  // namespace

int ProcessosDoSistema::Conta_Processos(const std::string& nome) {
  return plat::countProcesses(nome);
}
bool ProcessosDoSistema::Encerra_Processos(const std::string& nome) {
  return plat::killProcesses(nome);
}
std::string ProcessosDoSistema::Localizar(const std::string& pasta, const std::string& nome) {
  return plat::findInFolder(pasta, nome);
}
bool ProcessosDoSistema::Executar(const std::string& caminho) {
  return plat::startProcess(caminho);
}
void ProcessosDoSistema::RecolherFilhos() {
  plat::reapChildren();
}

TfrmPrincipal::TfrmPrincipal(Processos& processos, Tela& tela, std::string pasta,
                             TentarTrava tentar)
    : processos_(processos),
      tela_(tela),
      pasta_(std::move(pasta)),
      tentar_(tentar ? std::move(tentar) : TentarTrava(plat::FileLock::tryTake)) {}

std::string TfrmPrincipal::arquivoTrava() const {
  return pasta_ + "procguard.lock";
}

std::string TfrmPrincipal::arquivoConfig() const {
  return pasta_ + "ConfigGuardian.ini";
}
std::string TfrmPrincipal::pastaPing() const {
  return pasta_ + "ping" + plat::separator();
}
std::string TfrmPrincipal::arquivoTeste() const {
  return pastaPing() + "test-ping.txt";
}
std::string TfrmPrincipal::arquivoResposta() const {
  return pastaPing() + "resp-ping.txt";
}

bool TfrmPrincipal::TomarVez() {
  if (trava_) return true;
  plat::FileLock::Result resultado = plat::FileLock::Result::Failed;
  std::string erro;
  trava_ = tentar_(arquivoTrava(), resultado, erro);
  if (resultado != plat::FileLock::Result::Taken) trava_.reset();
  if (trava_) {
    if (!ultimoAviso_.empty()) tela_.Registro("Trava obtida: " + arquivoTrava());
    return true;
  }
  // A lock that cannot be had is no licence to guard beside another guardian: the reason is
  // said, and the guardian goes on waiting.
  const bool emUso = resultado == plat::FileLock::Result::Held;
  const std::string aviso =
      emUso ? "Aguardando outro guardian desta pasta (" + arquivoTrava() + " em uso)"
            : "Guardian sem a trava, aguardando: " + erro;
  if (aviso != ultimoAviso_) {
    ultimoAviso_ = aviso;
    if (emUso) {
      tela_.Registro(aviso);
    } else {
      tela_.Erro(aviso);
    }
  }
  return false;
}

void TfrmPrincipal::FormCreate() {
  iniciado_ = true;
  iniciarSinc_ = true;
  ultimoTeste_ = 0;
  ultimaVerificacao_ = 0;
  try {
    nomeEXE_ = zkt::LerIni(arquivoConfig(), "CONFIG", "nomeEXE");
  } catch (const std::exception& e) {
    // An unreadable settings file counts as a missing one, but the operator learns why.
    nomeEXE_.clear();
    tela_.Erro(e.what());
  }
  if (nomeEXE_.empty()) tela_.Mensagem("Nome do EXE nao configurado");
  captionReiniciar_ = "Reiniciar sincronizador " + nomeEXE_;
  captionEncerrar_ = "Encerrar sincronizador " + nomeEXE_;
  plat::createDir(pasta_ + "ping");
  enviarTeste_ = false;
  aguardarResposta_ = false;
}

void TfrmPrincipal::ChamarOutrosEXE() {
  plat::clock().sleepMs(1000);
  processos_.RecolherFilhos();
  if (iniciarSinc_ && processos_.Conta_Processos(nomeEXE_) == 0) {
    // An empty name starts nothing and fails silently, as configured; the message at
    // start-up said why.
    const std::string caminho = nomeEXE_.empty() ? pasta_ : ArquivoDoSincronizador();
    if (!caminho.empty()) processos_.Executar(caminho);
  }
  enviarTeste_ = true;
  timer1Ativo_ = true;
  iniciarSinc_ = false;
}

void TfrmPrincipal::Timer1Timer() {
  try {
    processos_.RecolherFilhos();
    const int64_t agora = plat::clock().wallSeconds();
    // Times are whole local seconds that run on across midnight. Should the clock be set
    // back, the stored times follow it, or supervision would pause until it caught up.
    if (agora < ultimoTeste_) ultimoTeste_ = agora;
    if (agora < ultimaVerificacao_) ultimaVerificacao_ = agora;

    if (enviarTeste_) {
      if (agora > ultimoTeste_ + 60) {
        ultimoTeste_ = agora;
        ultimaVerificacao_ = agora;
        plat::writeText(arquivoTeste(), kConteudoTeste);
        enviarTeste_ = false;
        aguardarResposta_ = true;
      }
    } else if (aguardarResposta_ && agora > ultimaVerificacao_ + 90) {
      ultimaVerificacao_ = agora;
      ultimoTeste_ = agora;
      if (plat::fileExists(arquivoResposta())) {
        plat::deleteFile(arquivoResposta());
      } else {
        Reiniciar();
      }
      aguardarResposta_ = false;
      enviarTeste_ = true;
    }
  } catch (const std::exception& e) {
    tela_.Erro(e.what());
  }
}

void TfrmPrincipal::GravarRegistroRestart() {
  // One reading of the clock names the file and stamps its line.
  const plat::DateTime dt = plat::clock().now();
  const std::string arquivo =
      pastaPing() + "Restart_em_" + Formata("DDMMAAAA", dt) + "_" + Formata("HHMMSS", dt) + ".txt";
  const std::string linha =
      "Restart em " + Formata("DD/MM/AAAA", dt) + " - " + Formata("HH:MM:SS", dt);
  plat::writeText(arquivo, linha + "\r\n");
  tela_.RegistroRestart(linha);
}

std::string TfrmPrincipal::ArquivoDoSincronizador() {
  // Names are compared without regard to letter case when counting and ending, so the
  // file is found the same way before it is started.
  std::string caminho = processos_.Localizar(pasta_, nomeEXE_);
  if (!caminho.empty()) {
    avisouFalta_ = false;
    return caminho;
  }
  const std::string texto = "EXE nao encontrado: " + pasta_ + nomeEXE_;
  tela_.Registro(texto);
  if (!avisouFalta_) {
    avisouFalta_ = true;
    tela_.Mensagem(texto);
  }
  return {};
}

void TfrmPrincipal::Reiniciar() {
  // With nothing to start, what runs goes on running.
  if (!nomeEXE_.empty() && ArquivoDoSincronizador().empty()) return;
  GravarRegistroRestart();
  processos_.Encerra_Processos(nomeEXE_);
  iniciarSinc_ = true;
  ChamarOutrosEXE();
}

void TfrmPrincipal::btnReiniciarSincClick() {
  try {
    Reiniciar();
  } catch (const std::exception& e) {
    tela_.Erro(e.what());
  }
}

void TfrmPrincipal::Encerrar() {
  // A guardian that never started has no synchronizer: the one running is another's.
  if (iniciado_) processos_.Encerra_Processos(nomeEXE_);
  tela_.ProcessarMensagens();
  tela_.Encerrar();
}

void TfrmPrincipal::btnEncerraSincClick() {
  Encerrar();
}
void TfrmPrincipal::sairClick() {
  Encerrar();
}

void TfrmPrincipal::FormDestroy() {
  timer1Ativo_ = false;
  if (iniciado_) {
    processos_.Encerra_Processos(nomeEXE_);
    processos_.RecolherFilhos();
  }
  // Freed only now: a guardian taking over must not find the ended synchronizer still there.
  trava_.reset();
}

}  // namespace procguard

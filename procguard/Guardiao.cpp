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

TfrmPrincipal::TfrmPrincipal(Processos& processos, Tela& tela, std::string pasta)
    : processos_(processos), tela_(tela), pasta_(std::move(pasta)) {}

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

void TfrmPrincipal::FormCreate() {
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
  processos_.Encerra_Processos(nomeEXE_);
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
  processos_.Encerra_Processos(nomeEXE_);
  processos_.RecolherFilhos();
}

}  // namespace procguard

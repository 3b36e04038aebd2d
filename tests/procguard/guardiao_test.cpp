// The guardian's logic on the virtual clock, with a stand-in for the process functions.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "pasta_temp.h"
#include "platform/clock.h"
#include "platform/lock.h"
#include "procguard/Guardiao.h"
#include "procguard/SemTela.h"
#include "tests/support/test_env.h"

using procguard::TfrmPrincipal;

namespace {

std::string maiusculas(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

// The synchronizer as a count of running copies of one executable, named on disk as
// nomeNoDisco; names match without regard to letter case, as the process functions do.
class ProcessosFalsos final : public procguard::Processos {
 public:
  std::string nomeNoDisco = "tefsync";
  bool noDisco = true;
  int vivos = 0;
  std::vector<std::string> iniciados;
  int encerramentos = 0;
  std::function<void()> aoEncerrar;  // runs at each end request

  bool mesmoNome(const std::string& nome) const {
    return maiusculas(nome) == maiusculas(nomeNoDisco);
  }
  int Conta_Processos(const std::string& nome) override { return mesmoNome(nome) ? vivos : 0; }
  bool Encerra_Processos(const std::string& nome) override {
    ++encerramentos;
    if (aoEncerrar) aoEncerrar();
    const bool havia = mesmoNome(nome) && vivos > 0;
    if (havia) vivos = 0;
    return havia;
  }
  std::string Localizar(const std::string& pasta, const std::string& nome) override {
    return noDisco && mesmoNome(nome) ? pasta + nomeNoDisco : std::string();
  }
  bool Executar(const std::string& caminho) override {
    iniciados.push_back(caminho);
    const auto nome = std::filesystem::path(caminho).filename().string();
    if (nome.empty() || nome != nomeNoDisco) return false;
    ++vivos;
    return true;
  }
  void RecolherFilhos() override {}
};

class TelaFalsa final : public procguard::Tela {
 public:
  std::vector<std::string> mensagens, erros, registros;
  bool encerrada = false;
  void Mensagem(const std::string& texto) override { mensagens.push_back(texto); }
  void Erro(const std::string& texto) override { erros.push_back(texto); }
  void RegistroRestart(const std::string& linha) override { registros.push_back(linha); }
  void Registro(const std::string& linha) override { linhas.push_back(linha); }
  std::vector<std::string> linhas;
  void ProcessarMensagens() override {}
  void Encerrar() override { encerrada = true; }
};

const plat::DateTime kMeioDia{2024, 3, 7, 9, 5, 4, 0};
const std::string kIniPadrao = "[CONFIG]\r\nnomeEXE=tefsync\r\n";

// The folder's lock as another guardian's process tries it.
std::unique_ptr<plat::FileLock> travaDe(const PastaTemp& pasta, plat::FileLock::Result& r) {
  std::string erro;
  return plat::FileLock::tryTake(pasta.em("procguard.lock"), r, erro);
}

// One guardian in its own folder, driven tick by tick on the 10-second grid of Timer1,
// beside a synchronizer that answers the heartbeat (or not) between ticks.
class Cenario {
 public:
  explicit Cenario(plat::DateTime inicio = kMeioDia, const std::string& ini = kIniPadrao)
      : relogio_(inicio) {
    if (!ini.empty()) PastaTemp::gravar(pasta.em("ConfigGuardian.ini"), ini);
    inicio_ = relogio_.wallSeconds();
  }

  int64_t decorrido() { return relogio_.wallSeconds() - inicio_; }
  plat::VirtualClock& relogio() { return relogio_; }

  void iniciar() {
    frm.FormCreate();
    frm.ChamarOutrosEXE();
    gradeTimer_ = decorrido();
  }

  // Runs every tick of Timer1 up to the elapsed second ate.
  void rodarAte(int64_t ate) {
    while (gradeTimer_ + 10 <= ate) {
      gradeTimer_ += 10;
      relogio_.advanceMs((inicio_ + gradeTimer_ - relogio_.wallSeconds()) * 1000);
      const size_t registrosAntes = tela.registros.size();
      frm.Timer1Timer();
      if (tela.registros.size() > registrosAntes) restarts.push_back(gradeTimer_);
      sincronizadorOlha();
    }
  }

  // What the synchronizer does between ticks: takes the test file away and answers it.
  void sincronizadorOlha() {
    if (!std::filesystem::exists(frm.arquivoTeste())) return;
    testes.push_back(gradeTimer_);
    std::filesystem::remove(frm.arquivoTeste());
    if (responde && proc.vivos > 0) PastaTemp::gravar(frm.arquivoResposta(), "");
  }

  void pingVirarArquivo() {
    std::filesystem::remove_all(pasta.em("ping"));
    PastaTemp::gravar(pasta.em("ping"), "");
  }
  void pingVirarPasta() {
    std::filesystem::remove(pasta.em("ping"));
    std::filesystem::create_directory(pasta.em("ping"));
  }

  plat::VirtualClock relogio_;
  plat::ScopedClock escopo_{relogio_};
  PastaTemp pasta;
  ProcessosFalsos proc;
  TelaFalsa tela;
  TfrmPrincipal frm{proc, tela, pasta.pasta()};
  bool responde = true;
  std::vector<int64_t> testes;    // elapsed seconds of the ticks that wrote a test file
  std::vector<int64_t> restarts;  // elapsed seconds of the ticks that restarted

 private:
  int64_t inicio_ = 0;
  int64_t gradeTimer_ = 0;
};

using Segundos = std::vector<int64_t>;

TEST(GuardiaoInicio, StartsTheSynchronizerOnlyWhenAbsent) {
  for (int jaRodando : {0, 1, 2}) {
    SCOPED_TRACE(jaRodando);
    Cenario c;
    c.proc.vivos = jaRodando;
    c.frm.FormCreate();
    EXPECT_FALSE(c.frm.Timer1Ativo());
    c.frm.ChamarOutrosEXE();
    EXPECT_EQ(c.decorrido(), 1) << "the start check waits one second";
    if (jaRodando == 0) {
      EXPECT_EQ(c.proc.iniciados, std::vector<std::string>{c.pasta.em("tefsync")});
    } else {
      EXPECT_TRUE(c.proc.iniciados.empty());
    }
    EXPECT_TRUE(c.frm.Timer1Ativo());
    EXPECT_TRUE(c.frm.enviarTeste());
    EXPECT_FALSE(c.frm.iniciarSinc());
  }
}

TEST(GuardiaoInicio, ReadsTheNameAndSetsCaptions) {
  Cenario c(kMeioDia, "; guardian\r\n[config]\r\n  NOMEEXE = Tefsync.exe \r\n");
  c.frm.FormCreate();
  EXPECT_EQ(c.frm.nomeEXE(), "Tefsync.exe");
  EXPECT_EQ(c.frm.captionReiniciar(), "Reiniciar sincronizador Tefsync.exe");
  EXPECT_EQ(c.frm.captionEncerrar(), "Encerrar sincronizador Tefsync.exe");
  EXPECT_TRUE(c.tela.mensagens.empty());
  EXPECT_TRUE(std::filesystem::is_directory(c.pasta.em("ping")));
  EXPECT_FALSE(c.frm.enviarTeste());
  EXPECT_FALSE(c.frm.aguardarResposta());
}

// The file is found in the guardian's folder without regard to letter case before it is
// started; with no such file nothing is started, nothing that runs is ended, and the
// operator is told once.
TEST(GuardiaoInicio, TheFileIsFoundInAnyLetterCaseAndAMissingOneEndsNothing) {
  Cenario c(kMeioDia, "[CONFIG]\r\nnomeEXE=TEFSYNC.exe\r\n");
  c.proc.nomeNoDisco = "tefsync.EXE";
  c.iniciar();
  EXPECT_EQ(c.proc.iniciados, std::vector<std::string>{c.pasta.em("tefsync.EXE")});
  EXPECT_TRUE(c.tela.mensagens.empty());

  c.proc.noDisco = false;  // the file went away; the running copy goes on
  const std::string falta = "EXE nao encontrado: " + c.pasta.em("TEFSYNC.exe");
  c.responde = false;
  c.rodarAte(300);  // two unanswered checks
  c.frm.btnReiniciarSincClick();
  EXPECT_EQ(c.proc.vivos, 1);
  EXPECT_EQ(c.proc.encerramentos, 0);
  EXPECT_EQ(c.proc.iniciados.size(), 1u);
  EXPECT_TRUE(c.tela.registros.empty()) << "no restart, no restart record";
  EXPECT_EQ(c.tela.mensagens, std::vector<std::string>{falta}) << "shown once";
  EXPECT_EQ(c.tela.linhas, (std::vector<std::string>{falta, falta, falta})) << "logged each time";

  c.proc.noDisco = true;  // back: the next restart runs, and a later loss is shown again
  c.frm.btnReiniciarSincClick();
  EXPECT_EQ(c.proc.encerramentos, 1);
  EXPECT_EQ(c.proc.iniciados.size(), 2u);
  EXPECT_EQ(c.tela.registros.size(), 1u);
  c.proc.noDisco = false;
  c.frm.btnReiniciarSincClick();
  EXPECT_EQ(c.tela.mensagens.size(), 2u);
}

TEST(GuardiaoInicio, MissingNameWarnsAndGoesOn) {
  for (const std::string ini : {"", "[CONFIG]\r\nnomeEXE=\r\n", "[OUTRA]\r\nnomeEXE=tefsync\r\n"}) {
    SCOPED_TRACE(ini);
    Cenario c(kMeioDia, ini);
    c.iniciar();
    EXPECT_EQ(c.tela.mensagens, std::vector<std::string>{"Nome do EXE nao configurado"});
    EXPECT_EQ(c.frm.captionReiniciar(), "Reiniciar sincronizador ");
    EXPECT_EQ(c.frm.captionEncerrar(), "Encerrar sincronizador ");
    // The folder itself is no program: nothing runs, every check restarts and records.
    c.rodarAte(300);
    EXPECT_EQ(c.proc.vivos, 0);
    EXPECT_EQ(c.restarts, (Segundos{111, 281}));
    EXPECT_EQ(c.tela.registros.size(), 2u);
    EXPECT_TRUE(c.tela.erros.empty());
  }
}

// The heartbeat's timeline is the same at any hour, across midnight and the new year.
struct CasoLinhaDoTempo {
  const char* nome;
  plat::DateTime inicio;
  bool responde;
  Segundos testes;
  Segundos restarts;
};

void PrintTo(const CasoLinhaDoTempo& caso, std::ostream* os) {
  *os << caso.nome;
}

class LinhaDoTempo : public testing::TestWithParam<CasoLinhaDoTempo> {};

TEST_P(LinhaDoTempo, TestsAndChecksKeepTheirRhythm) {
  const auto& caso = GetParam();
  Cenario c(caso.inicio);
  c.responde = caso.responde;
  c.iniciar();
  c.rodarAte(520);
  EXPECT_EQ(c.testes, caso.testes);
  EXPECT_EQ(c.restarts, caso.restarts);
  EXPECT_TRUE(c.tela.erros.empty());
  EXPECT_EQ(c.proc.vivos, 1);
}

const Segundos kTestes{11, 181, 351};
INSTANTIATE_TEST_SUITE_P(
    Guardiao, LinhaDoTempo,
    testing::Values(
        CasoLinhaDoTempo{"manha_responde", kMeioDia, true, kTestes, {}},
        CasoLinhaDoTempo{"manha_calado", kMeioDia, false, kTestes, {111, 281, 451}},
        // A test written in the last minute of the day.
        CasoLinhaDoTempo{
            "teste_23h59", {2024, 3, 7, 23, 58, 40, 0}, false, kTestes, {111, 281, 451}},
        // A check made in the last 90 seconds of the day.
        CasoLinhaDoTempo{"verificacao_23h58", {2024, 3, 7, 23, 57, 0, 0}, true, kTestes, {}},
        CasoLinhaDoTempo{"verificacao_23h58_calado",
                         {2024, 3, 7, 23, 57, 0, 0},
                         false,
                         kTestes,
                         {111, 281, 451}},
        CasoLinhaDoTempo{
            "virada_do_ano", {2023, 12, 31, 23, 59, 30, 0}, false, kTestes, {111, 281, 451}},
        CasoLinhaDoTempo{"fim_de_fevereiro", {2024, 2, 29, 23, 56, 0, 0}, true, kTestes, {}}),
    [](const testing::TestParamInfo<CasoLinhaDoTempo>& info) { return info.param.nome; });

TEST(GuardiaoBatimento, WaitsUntilAfterNinetySeconds) {
  Cenario c;
  c.responde = false;
  c.iniciar();
  c.rodarAte(101);
  EXPECT_TRUE(c.frm.aguardarResposta());
  EXPECT_TRUE(c.restarts.empty()) << "T + 90 is not above T + 90";
  c.rodarAte(111);
  EXPECT_EQ(c.restarts, Segundos{111});
  EXPECT_EQ(c.frm.ultimoTeste(), c.frm.ultimaVerificacao());
  EXPECT_TRUE(c.frm.enviarTeste());
  EXPECT_FALSE(c.frm.aguardarResposta());
}

TEST(GuardiaoBatimento, AnswerFoundIsDeletedAndNothingRestarts) {
  Cenario c;
  c.iniciar();
  c.rodarAte(111);
  EXPECT_FALSE(std::filesystem::exists(c.frm.arquivoResposta()));
  EXPECT_EQ(c.proc.encerramentos, 0);
  EXPECT_EQ(c.proc.iniciados.size(), 1u);
}

TEST(GuardiaoBatimento, TestFileContent) {
  Cenario c;
  c.iniciar();
  c.rodarAte(10);
  EXPECT_TRUE(c.testes.empty());
  c.relogio().advanceMs(10000);
  c.frm.Timer1Timer();
  EXPECT_EQ(PastaTemp::ler(c.frm.arquivoTeste()), "teste de sincronizador... \r\n");
}

TEST(GuardiaoBatimento, LateAnswerCountsAtTheNextCheck) {
  Cenario c;
  c.responde = false;
  c.iniciar();
  c.rodarAte(111);
  EXPECT_EQ(c.restarts, Segundos{111});
  // The old copy answers after the check; the new one never does.
  PastaTemp::gravar(c.frm.arquivoResposta(), "");
  c.rodarAte(300);
  EXPECT_EQ(c.restarts, Segundos{111}) << "the check at 281 finds the late answer";
  EXPECT_FALSE(std::filesystem::exists(c.frm.arquivoResposta()));
  c.rodarAte(460);
  EXPECT_EQ(c.restarts, (Segundos{111, 451}));
}

TEST(GuardiaoBatimento, ManualRestartWhileWaiting) {
  Cenario c;
  c.responde = false;
  c.iniciar();
  c.rodarAte(41);
  ASSERT_TRUE(c.frm.aguardarResposta());
  c.frm.btnReiniciarSincClick();
  EXPECT_EQ(c.tela.registros.size(), 1u);
  EXPECT_EQ(c.proc.encerramentos, 1);
  EXPECT_EQ(c.proc.iniciados.size(), 2u);
  EXPECT_TRUE(c.frm.enviarTeste());
  EXPECT_TRUE(c.frm.aguardarResposta());
  // The writing branch comes first: a new test 60 s after the last one, and the wait
  // starts over from it.
  c.rodarAte(171);
  EXPECT_EQ(c.testes, (Segundos{11, 81}));
  EXPECT_TRUE(c.restarts.empty());
  c.rodarAte(181);
  EXPECT_EQ(c.restarts, Segundos{181});
}

TEST(GuardiaoBatimento, ManualRestartOfAHealthySynchronizerIsRecorded) {
  Cenario c;
  c.iniciar();
  c.rodarAte(31);
  c.frm.btnReiniciarSincClick();
  EXPECT_EQ(c.tela.registros.size(), 1u);
  EXPECT_EQ(c.proc.iniciados.size(), 2u);
  EXPECT_EQ(c.proc.vivos, 1);
}

TEST(GuardiaoBatimento, ClockSetBackDoesNotStopSupervision) {
  Cenario c;
  c.responde = false;
  c.iniciar();
  c.rodarAte(11);
  ASSERT_EQ(c.testes, Segundos{11});
  c.relogio().set(plat::civilFromSeconds(c.relogio().wallSeconds() - 3600));
  for (int i = 0; i < 11; ++i) {
    c.relogio().advanceMs(10000);
    c.frm.Timer1Timer();
  }
  EXPECT_EQ(c.tela.registros.size(), 1u) << "checked about 100 s later, not an hour later";
}

TEST(GuardiaoPastaProtegida, TestFileFailsWithErrorAndRetries) {
  Cenario c;
  c.pingVirarArquivo();
  c.iniciar();
  c.rodarAte(11);
  ASSERT_EQ(c.tela.erros.size(), 1u);
  EXPECT_NE(c.tela.erros[0].find("test-ping.txt"), std::string::npos) << c.tela.erros[0];
  EXPECT_TRUE(c.frm.enviarTeste());
  EXPECT_FALSE(c.frm.aguardarResposta());
  c.rodarAte(71);
  EXPECT_EQ(c.tela.erros.size(), 1u);
  c.rodarAte(81);
  EXPECT_EQ(c.tela.erros.size(), 2u) << "tried again more than 60 s after the first try";
  c.pingVirarPasta();
  c.rodarAte(151);
  EXPECT_EQ(c.testes, Segundos{151});
  EXPECT_TRUE(c.frm.aguardarResposta());
}

TEST(GuardiaoPastaProtegida, RestartFailsBeforeEndingAnything) {
  Cenario c;
  c.responde = false;
  c.iniciar();
  c.rodarAte(101);
  c.pingVirarArquivo();
  c.rodarAte(111);
  ASSERT_EQ(c.tela.erros.size(), 1u);
  EXPECT_NE(c.tela.erros[0].find("Restart_em_"), std::string::npos) << c.tela.erros[0];
  EXPECT_EQ(c.proc.encerramentos, 0);
  EXPECT_EQ(c.proc.iniciados.size(), 1u);
  EXPECT_TRUE(c.frm.aguardarResposta());
  EXPECT_FALSE(c.frm.enviarTeste());
  // A manual restart fails the same way.
  c.frm.btnReiniciarSincClick();
  EXPECT_EQ(c.tela.erros.size(), 2u);
  EXPECT_EQ(c.proc.encerramentos, 0);
  // The check comes again about 100 s later and, with the folder back, restarts.
  c.pingVirarPasta();
  c.rodarAte(201);
  EXPECT_EQ(c.proc.encerramentos, 0);
  c.rodarAte(211);
  EXPECT_EQ(c.restarts, Segundos{211});
  EXPECT_EQ(c.proc.encerramentos, 1);
  EXPECT_EQ(c.proc.iniciados.size(), 2u);
}

struct CasoRegistro {
  plat::DateTime inicio;
  const char* arquivo;
  const char* linha;
};

TEST(GuardiaoRegistro, NameAndLineFromTheSameMoment) {
  // The check restarts 111 s after start-up.
  const CasoRegistro casos[] = {
      {{2024, 3, 7, 9, 3, 13, 0},
       "Restart_em_07032024_090504.txt",
       "Restart em 07/03/2024 - 09:05:04"},
      {{2023, 12, 31, 23, 59, 0, 0},
       "Restart_em_01012024_000051.txt",
       "Restart em 01/01/2024 - 00:00:51"},
      {{2024, 1, 1, 23, 58, 8, 999},
       "Restart_em_01012024_235959.txt",
       "Restart em 01/01/2024 - 23:59:59"},
  };
  for (const auto& caso : casos) {
    SCOPED_TRACE(caso.arquivo);
    Cenario c(caso.inicio);
    c.responde = false;
    c.iniciar();
    c.rodarAte(111);
    ASSERT_EQ(c.tela.registros, std::vector<std::string>{caso.linha});
    EXPECT_EQ(PastaTemp::ler(c.pasta.em(std::string("ping/") + caso.arquivo)),
              std::string(caso.linha) + "\r\n");
  }
}

TEST(GuardiaoFim, LeavingEndsTheSynchronizerTwice) {
  for (bool peloBotao : {false, true}) {
    Cenario c;
    c.iniciar();
    ASSERT_EQ(c.proc.vivos, 1);
    if (peloBotao) {
      c.frm.btnEncerraSincClick();
    } else {
      c.frm.sairClick();
    }
    EXPECT_EQ(c.proc.vivos, 0);
    EXPECT_TRUE(c.tela.encerrada);
    c.frm.FormDestroy();
    EXPECT_EQ(c.proc.encerramentos, 2);
    EXPECT_FALSE(c.frm.Timer1Ativo());
  }
}

// The headless program loop: Timer1 every 10 s and a termination request taking the path
// of "Sair do sistema".
TEST(GuardiaoSemTela, RunsTheHeartbeatAndEndsThroughSair) {
  Cenario c;
  std::ostringstream saida, erros;
  procguard::TelaTexto tela(saida, erros);
  TfrmPrincipal frm(c.proc, tela, c.pasta.pasta());
  const int64_t inicio = c.relogio().wallSeconds();
  std::vector<int64_t> testes;
  c.relogio().addSleepHook([&](int64_t) {
    if (std::filesystem::exists(frm.arquivoTeste())) {
      testes.push_back(c.relogio().wallSeconds() - inicio);
      std::filesystem::remove(frm.arquivoTeste());
    }
  });
  // Held while the guardian runs and ends its synchronizer, so that a guardian taking over
  // never finds that synchronizer still there.
  std::vector<plat::FileLock::Result> travaAoEncerrar;
  c.proc.aoEncerrar = [&] {
    plat::FileLock::Result r{};
    travaDe(c.pasta, r);
    travaAoEncerrar.push_back(r);
  };
  procguard::ExecutarSemTela(frm, tela, [&] { return c.relogio().wallSeconds() - inicio >= 250; });
  EXPECT_EQ(travaAoEncerrar, std::vector<plat::FileLock::Result>(3, plat::FileLock::Result::Held));
  plat::FileLock::Result depois{};
  EXPECT_TRUE(travaDe(c.pasta, depois)) << "freed once the guardian has ended";
  EXPECT_EQ(testes, (Segundos{11, 181}));
  EXPECT_EQ(saida.str(), "Restart em 07/03/2024 - 09:06:55\n");
  EXPECT_EQ(erros.str(), "");
  EXPECT_TRUE(tela.encerrado());
  EXPECT_EQ(c.proc.vivos, 0);
  EXPECT_EQ(c.proc.encerramentos, 3) << "the restart, Sair and FormDestroy";
  EXPECT_FALSE(frm.Timer1Ativo());
}

// ---- one guardian per install folder ----

// A second guardian of the folder, as the headless program on the virtual clock. The test
// holds the folder's lock as the first guardian's process does, and plays both the first
// guardian's end and the synchronizer, which answers each test file.
class SegundoGuardiao {
 public:
  SegundoGuardiao() {
    plat::FileLock::Result r{};
    primeiro = travaDe(c.pasta, r);
    c.proc.vivos = 1;  // the first guardian's synchronizer
    c.relogio().addSleepHook([this](int64_t) { aoDormir(); });
  }

  int64_t ms() { return c.relogio().monotonicMs(); }
  void rodarAte(int64_t ateMs) {
    procguard::ExecutarSemTela(frm, tela, [&] { return ms() >= ateMs; });
  }
  std::vector<std::string> arquivosDaPasta() const {
    std::vector<std::string> nomes;
    for (const auto& e : std::filesystem::directory_iterator(c.pasta.pasta()))
      nomes.push_back(e.path().filename().string());
    std::sort(nomes.begin(), nomes.end());
    return nomes;
  }
  std::string trava() const { return c.pasta.em("procguard.lock"); }
  std::string aguardando() const {
    return "Aguardando outro guardian desta pasta (" + trava() + " em uso)\n";
  }

  Cenario c;
  std::ostringstream saida, erros;
  procguard::TelaTexto tela{saida, erros};
  std::unique_ptr<plat::FileLock> primeiro;
  int64_t fimDoPrimeiroMs = -1;    // when the first guardian ends; -1 never
  bool sincronizadorFica = false;  // its synchronizer outlives it (a forced end)
  int64_t falhaAteMs = -1;         // until then each try fails with motivoDaFalha
  std::string motivoDaFalha;
  std::vector<int64_t> tentativas;  // the ms of each try of the lock
  Segundos testes;                  // the seconds at which a test file was found
  TfrmPrincipal frm{c.proc, tela, c.pasta.pasta(),
                    [this](const std::string& arquivo, plat::FileLock::Result& r,
                           std::string& erro) -> std::unique_ptr<plat::FileLock> {
                      tentativas.push_back(ms());
                      if (ms() >= falhaAteMs) return plat::FileLock::tryTake(arquivo, r, erro);
                      r = plat::FileLock::Result::Failed;
                      erro = motivoDaFalha;
                      return nullptr;
                    }};

 private:
  void aoDormir() {
    if (primeiro && fimDoPrimeiroMs >= 0 && ms() >= fimDoPrimeiroMs) {
      if (!sincronizadorFica) c.proc.vivos = 0;  // ended by the first, before its lock goes
      primeiro.reset();
    }
    if (std::filesystem::exists(frm.arquivoTeste())) {
      testes.push_back(ms() / 1000);
      std::filesystem::remove(frm.arquivoTeste());
      if (c.proc.vivos > 0) PastaTemp::gravar(frm.arquivoResposta(), "");
    }
  }
};

TEST(GuardiaoVez, TheSecondWaitsStartingNothingWritingNothingAndEndsNothing) {
  SegundoGuardiao g;
  g.rodarAte(300000);
  std::vector<int64_t> aCada5s;
  for (int64_t t = 0; t < 300000; t += 5000) aCada5s.push_back(t);
  EXPECT_EQ(g.tentativas, aCada5s);
  EXPECT_EQ(g.saida.str(), g.aguardando()) << "said once";
  EXPECT_EQ(g.erros.str(), "");
  EXPECT_TRUE(g.c.proc.iniciados.empty());
  EXPECT_EQ(g.c.proc.encerramentos, 0) << "its end leaves the first guardian's synchronizer";
  EXPECT_EQ(g.c.proc.vivos, 1);
  EXPECT_TRUE(g.testes.empty());
  EXPECT_EQ(g.arquivosDaPasta(), (std::vector<std::string>{"ConfigGuardian.ini", "procguard.lock"}))
      << "no ping folder, no test file, no restart record";
}

// The first guardian ends with its user's log-off (and ends its synchronizer) or is ended
// by force (its synchronizer runs on): the second starts as if it had just started.
TEST(GuardiaoVez, TheSecondTakesOverWhenTheFirstEndsAsIfJustStarted) {
  struct Caso {
    const char* nome;
    bool sincronizadorFica;
    size_t iniciados;
  } casos[] = {{"log-off", false, 1}, {"forced end", true, 0}};
  for (const Caso& caso : casos) {
    SCOPED_TRACE(caso.nome);
    SegundoGuardiao g;
    g.fimDoPrimeiroMs = 12000;
    g.sincronizadorFica = caso.sincronizadorFica;
    g.rodarAte(200000);
    EXPECT_EQ(g.tentativas, (std::vector<int64_t>{0, 5000, 10000, 15000}));
    EXPECT_EQ(g.c.proc.iniciados.size(), caso.iniciados);
    // Taken at 15 s; its first test follows its own start step, 11 s later, and is answered.
    EXPECT_EQ(g.testes, (Segundos{26, 196}));
    EXPECT_EQ(g.saida.str(), g.aguardando() + "Trava obtida: " + g.trava() + "\n");
    EXPECT_EQ(g.erros.str(), "");
    EXPECT_EQ(g.c.proc.encerramentos, 2) << "no restart; its own end: Sair and FormDestroy";
  }
}

// A lock that cannot be had (a folder the user may not write) never lets a guardian run
// unguarded by it: the reason is said once, and the guardian goes on trying.
TEST(GuardiaoVez, ALockThatCannotBeHadIsSaidAndTriedAgain) {
  SegundoGuardiao g;
  g.primeiro.reset();
  g.c.proc.vivos = 0;
  g.falhaAteMs = 12000;
  g.motivoDaFalha = "Arquivo " + g.trava() + ": Acesso negado";
  g.rodarAte(30000);
  EXPECT_EQ(g.tentativas, (std::vector<int64_t>{0, 5000, 10000, 15000}));
  EXPECT_EQ(g.erros.str(), "Erro: Guardian sem a trava, aguardando: " + g.motivoDaFalha + "\n");
  EXPECT_EQ(g.saida.str(), "Trava obtida: " + g.trava() + "\n");
  // Started only once the lock was had, at 15 s: its first test file came 11 s later.
  EXPECT_EQ(g.testes, Segundos{26});
  EXPECT_EQ(g.c.proc.iniciados.size(), 1u);
}

}  // namespace

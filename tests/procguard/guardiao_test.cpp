// The guardian's logic on the virtual clock, with a stand-in for the process functions.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "pasta_temp.h"
#include "platform/clock.h"
#include "procguard/Guardiao.h"
#include "procguard/SemTela.h"
#include "tests/support/test_env.h"

using procguard::TfrmPrincipal;

namespace {

// The synchronizer as a count of running copies of one executable name.
class ProcessosFalsos final : public procguard::Processos {
 public:
  std::string nomeNoDisco = "tefsync";
  int vivos = 0;
  std::vector<std::string> iniciados;
  int encerramentos = 0;

  int Conta_Processos(const std::string& nome) override { return nome == nomeNoDisco ? vivos : 0; }
  bool Encerra_Processos(const std::string& nome) override {
    ++encerramentos;
    const bool havia = nome == nomeNoDisco && vivos > 0;
    if (havia) vivos = 0;
    return havia;
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
  void ProcessarMensagens() override {}
  void Encerrar() override { encerrada = true; }
};

const plat::DateTime kMeioDia{2024, 3, 7, 9, 5, 4, 0};
const std::string kIniPadrao = "[CONFIG]\r\nnomeEXE=tefsync\r\n";

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
  procguard::ExecutarSemTela(frm, tela, [&] { return c.relogio().wallSeconds() - inicio >= 250; });
  EXPECT_EQ(testes, (Segundos{11, 181}));
  EXPECT_EQ(saida.str(), "Restart em 07/03/2024 - 09:06:55\n");
  EXPECT_EQ(erros.str(), "");
  EXPECT_TRUE(tela.encerrado());
  EXPECT_EQ(c.proc.vivos, 0);
  EXPECT_EQ(c.proc.encerramentos, 3) << "the restart, Sair and FormDestroy";
  EXPECT_FALSE(frm.Timer1Ativo());
}

TEST(GuardiaoSemTela, TitleRule) {
  const std::pair<const char*, const char*> casos[] = {
      {"/opt/loja/procguard", "procguard"},
      {"/opt/loja/ProcGuard.exe", "Procguard"},
      {"C:\\LOJA\\GUARDIAN.V2.EXE", "Guardian"},
      {"/x/.oculto", ""},
  };
  for (const auto& [caminho, titulo] : casos) {
    EXPECT_EQ(procguard::TituloAplicacao(caminho), titulo) << caminho;
  }
}

TEST(GuardiaoSemTela, DisplayRule) {
  struct Caso {
    const char* display;
    const char* wayland;
    const char* qpa;
    bool ha;
  };
  const Caso casos[] = {
      {nullptr, nullptr, nullptr, false},    {":0", nullptr, nullptr, true},
      {nullptr, "wayland-0", nullptr, true}, {":0", nullptr, "offscreen", false},
      {":0", nullptr, "minimal", false},     {":0", nullptr, "xcb", true},
      {"", nullptr, nullptr, false},
  };
  auto definir = [](const char* nome, const char* valor) { testsupport::setEnv(nome, valor); };
  for (const auto& caso : casos) {
    definir("DISPLAY", caso.display);
    definir("WAYLAND_DISPLAY", caso.wayland);
    definir("QT_QPA_PLATFORM", caso.qpa);
    EXPECT_EQ(procguard::HaDisplay(), caso.ha)
        << (caso.display ? caso.display : "-") << " " << (caso.qpa ? caso.qpa : "-");
  }
}

}  // namespace

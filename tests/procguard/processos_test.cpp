// The process functions and the guardian's start and restart with real processes: copies
// of the test helper stand in for the synchronizer. These wait in real time (label e2e).
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "pasta_temp.h"
#include "platform/clock.h"
#include "platform/process.h"
#include "procguard/Guardiao.h"

namespace fs = std::filesystem;

namespace {

bool esperar(const std::function<bool()>& condicao, int ms = 5000) {
  const auto limite = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!condicao()) {
    if (std::chrono::steady_clock::now() > limite) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

std::string campoStat(const std::string& pid, int campo) {
  std::ifstream in("/proc/" + pid + "/stat");
  std::string linha;
  std::getline(in, linha);
  const auto fecha = linha.rfind(')');
  if (fecha == std::string::npos) return {};
  std::istringstream resto(linha.substr(fecha + 2));
  std::string valor;
  for (int i = 3; i <= campo && resto >> valor; ++i) {
  }
  return valor;  // field 3 is the state, 5 the process group, 6 the session
}

// Ids of the live (non-zombie) processes running the executable at caminho.
std::vector<std::string> processosDe(const std::string& caminho) {
  std::vector<std::string> pids;
  for (const auto& entrada : fs::directory_iterator("/proc")) {
    const std::string pid = entrada.path().filename().string();
    if (pid.find_first_not_of("0123456789") != std::string::npos) continue;
    std::error_code ec;
    const auto exe = fs::read_symlink(entrada.path() / "exe", ec);
    if (ec || exe.string() != caminho) continue;
    if (campoStat(pid, 3) != "Z") pids.push_back(pid);
  }
  return pids;
}

// Children of this test's main thread left as zombies.
int zumbisFilhos() {
  const std::string eu = fs::read_symlink("/proc/self").string();
  std::ifstream in("/proc/" + eu + "/task/" + eu + "/children");
  int zumbis = 0;
  std::string pid;
  while (in >> pid) {
    if (campoStat(pid, 3) == "Z") ++zumbis;
  }
  return zumbis;
}

int linhas(const std::string& arquivo) {
  std::ifstream in(arquivo);
  int n = 0;
  for (std::string l; std::getline(in, l);) ++n;
  return n;
}

class ProcessosReais : public testing::Test {
 protected:
  void SetUp() override {
    std::random_device rd;
    std::ostringstream id;
    id << std::hex << rd();
    sufixo_ = id.str();
    PastaTemp::gravar(pasta_.em("testee-mode.txt"), "silent");
  }
  void TearDown() override {
    for (const auto& c : copias_) plat::killProcesses(c);
    esperar([&] {
      plat::reapChildren();
      for (const auto& c : copias_) {
        if (!processosDe(c).empty()) return false;
      }
      return true;
    });
  }

  // A copy of the helper under a name of its own in the test folder; its full path.
  std::string copiar(const std::string& base) {
    const std::string caminho = pasta_.em(base + sufixo_);
    fs::copy_file(PROCGUARD_TESTEE, caminho);
    copias_.push_back(caminho);
    return caminho;
  }
  std::string nome(const std::string& caminho) const {
    return fs::path(caminho).filename().string();
  }
  std::string inicios() const { return pasta_.em("testee-starts.txt"); }
  void modo(const std::string& m) { PastaTemp::gravar(pasta_.em("testee-mode.txt"), m); }

  PastaTemp pasta_;
  std::string sufixo_;
  std::vector<std::string> copias_;
};

TEST_F(ProcessosReais, CountsStartsAndEndsEveryCopy) {
  const std::string exe = copiar("sinc");
  EXPECT_EQ(plat::countProcesses(nome(exe)), 0);
  ASSERT_TRUE(plat::startProcess(exe));
  ASSERT_TRUE(plat::startProcess(exe));
  ASSERT_TRUE(esperar([&] { return plat::countProcesses(nome(exe)) == 2; }));
  for (const auto& pid : processosDe(exe)) {
    EXPECT_EQ(campoStat(pid, 5), pid) << "own process group";
    EXPECT_EQ(campoStat(pid, 6), pid) << "own session";
  }
  EXPECT_TRUE(plat::killProcesses(nome(exe)));
  EXPECT_TRUE(esperar([&] { return plat::countProcesses(nome(exe)) == 0; }))
      << "ended processes, zombies included, are not counted";
  EXPECT_TRUE(esperar([&] {
    plat::reapChildren();
    return zumbisFilhos() == 0;
  }));
  EXPECT_FALSE(plat::killProcesses(nome(exe)));
}

TEST_F(ProcessosReais, NamesMatchInAnyLetterCase) {
  const std::string exe = copiar("SincMaiusc.");
  ASSERT_TRUE(plat::startProcess(exe));
  std::string minusc = nome(exe);
  for (char& ch : minusc) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  ASSERT_TRUE(esperar([&] { return plat::countProcesses(minusc) == 1; }));
  EXPECT_EQ(plat::countProcesses(minusc + "x"), 0);
  EXPECT_TRUE(plat::killProcesses(minusc));
  EXPECT_TRUE(esperar([&] { return processosDe(exe).empty(); }));
}

TEST_F(ProcessosReais, NameWithFolderPartMatchesOnlyTheWholePath) {
  const std::string exe = copiar("sinc");
  ASSERT_TRUE(plat::startProcess(exe));
  ASSERT_TRUE(esperar([&] { return processosDe(exe).size() == 1; }));
  EXPECT_EQ(plat::countProcesses(exe), 0) << "counting compares base names only";
  EXPECT_FALSE(plat::killProcesses("/outra/pasta/" + nome(exe)));
  EXPECT_FALSE(plat::killProcesses("sub/" + nome(exe)));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(processosDe(exe).size(), 1u);
  std::string maiusc = exe;
  for (char& ch : maiusc) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  EXPECT_TRUE(plat::killProcesses(maiusc));
  EXPECT_TRUE(esperar([&] { return processosDe(exe).empty(); }));
}

TEST_F(ProcessosReais, HungAndStoppedProcessesEnd) {
  for (const char* m : {"hang", "stop"}) {
    SCOPED_TRACE(m);
    modo(m);
    const std::string exe = copiar(std::string(m) + "-");
    ASSERT_TRUE(plat::startProcess(exe));
    ASSERT_TRUE(esperar([&] { return plat::countProcesses(nome(exe)) == 1; }));
    if (std::string(m) == "stop") {
      ASSERT_TRUE(esperar([&] {
        const auto pids = processosDe(exe);
        return pids.size() == 1 && campoStat(pids[0], 3) == "T";
      }));
      EXPECT_EQ(plat::countProcesses(nome(exe)), 1) << "a stopped process still runs";
    }
    EXPECT_TRUE(plat::killProcesses(nome(exe)));
    EXPECT_TRUE(esperar([&] { return processosDe(exe).empty(); }));
  }
}

TEST_F(ProcessosReais, BadNamesStartNothing) {
  EXPECT_EQ(plat::countProcesses(""), 0);
  EXPECT_FALSE(plat::killProcesses(""));
  EXPECT_FALSE(plat::startProcess(pasta_.pasta())) << "the folder itself";
  EXPECT_FALSE(plat::startProcess(pasta_.em("nao-existe")));
  // No shell reads the name.
  EXPECT_FALSE(plat::startProcess(pasta_.em("x; touch ") + pasta_.em("invadido")));
  EXPECT_FALSE(plat::startProcess("touch " + pasta_.em("invadido")));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_FALSE(fs::exists(pasta_.em("invadido")));
}

// A name is found in a folder as Windows finds it: without regard to letter case.
TEST(FindInFolder, FindsTheFileInAnyLetterCase) {
  PastaTemp pasta;
  for (const char* f : {"tefsync", "Sinc", "SINC", "outro.EXE"}) PastaTemp::gravar(pasta.em(f), "");
  fs::create_directory(pasta.em("Pasta"));
  struct Caso {
    const char* nome;
    const char* achado;  // "" none
  } casos[] = {
      {"tefsync", "tefsync"},
      {"TEFSYNC", "tefsync"},
      {"TefSync", "tefsync"},
      {"outro.exe", "outro.EXE"},
      {"Sinc", "Sinc"},  // the exact spelling first
      {"sinc", "SINC"},  // else always the same one of several
      {"tefsyn", ""},
      {"tefsync ", ""},
      {"pasta", ""},  // a folder is no program
      {"", ""},
      {"../tefsync", ""},
      {".", ""},
  };
  for (const Caso& c : casos) {
    const std::string esperado = *c.achado ? pasta.em(c.achado) : "";
    EXPECT_EQ(plat::findInFolder(pasta.pasta(), c.nome), esperado) << c.nome;
  }
}

// The guardian's start and restart on the virtual clock, with real processes: every
// pause (the one-second wait before the start check) also lasts a real second.
class GuardiaoReal : public ProcessosReais {
 protected:
  class Tela final : public procguard::Tela {
   public:
    std::vector<std::string> mensagens, erros, registros;
    bool encerrada = false;
    void Mensagem(const std::string& t) override { mensagens.push_back(t); }
    void Erro(const std::string& t) override { erros.push_back(t); }
    void RegistroRestart(const std::string& l) override { registros.push_back(l); }
    void Registro(const std::string& l) override { linhas.push_back(l); }
    std::vector<std::string> linhas;
    void ProcessarMensagens() override {}
    void Encerrar() override { encerrada = true; }
  };

  void SetUp() override {
    ProcessosReais::SetUp();
    relogio_.addSleepHook(
        [](int64_t) { std::this_thread::sleep_for(std::chrono::milliseconds(1000)); });
  }
  void configurar(const std::string& nomeEXE) {
    PastaTemp::gravar(pasta_.em("ConfigGuardian.ini"), "[CONFIG]\r\nnomeEXE=" + nomeEXE + "\r\n");
  }

  plat::VirtualClock relogio_;
  plat::ScopedClock escopo_{relogio_};
  procguard::ProcessosDoSistema processos_;
  Tela tela_;
  procguard::TfrmPrincipal frm_{processos_, tela_, pasta_.pasta()};
};

TEST_F(GuardiaoReal, StartsTheSynchronizerWhenAbsentOnly) {
  for (bool presente : {false, true}) {
    SCOPED_TRACE(presente);
    const std::string exe = copiar(presente ? "presente" : "ausente");
    fs::remove(inicios());
    configurar(nome(exe));
    if (presente) {
      ASSERT_TRUE(plat::startProcess(exe));
      ASSERT_TRUE(esperar([&] { return plat::countProcesses(nome(exe)) == 1; }));
    }
    frm_.FormCreate();
    frm_.ChamarOutrosEXE();
    EXPECT_TRUE(esperar([&] { return linhas(inicios()) >= 1; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(plat::countProcesses(nome(exe)), 1);
    EXPECT_EQ(linhas(inicios()), 1);
  }
}

TEST_F(GuardiaoReal, RestartEndsBothCopiesAndStartsOneWithoutZombies) {
  const std::string exe = copiar("duas");
  configurar(nome(exe));
  ASSERT_TRUE(plat::startProcess(exe));
  ASSERT_TRUE(plat::startProcess(exe));
  ASSERT_TRUE(esperar([&] { return processosDe(exe).size() == 2; }));
  const auto antigos = processosDe(exe);
  frm_.FormCreate();
  frm_.ChamarOutrosEXE();
  EXPECT_EQ(processosDe(exe).size(), 2u);

  frm_.btnReiniciarSincClick();
  EXPECT_EQ(tela_.registros.size(), 1u);
  ASSERT_TRUE(esperar([&] { return linhas(inicios()) == 3; }));
  ASSERT_TRUE(esperar([&] { return processosDe(exe).size() == 1; }));
  for (const auto& pid : antigos) EXPECT_NE(processosDe(exe)[0], pid);
  frm_.Timer1Timer();
  EXPECT_EQ(zumbisFilhos(), 0);
}

TEST_F(GuardiaoReal, EmptyNameRestartsAndRecordsAtEachUnansweredCheck) {
  configurar("");
  frm_.FormCreate();
  EXPECT_EQ(tela_.mensagens, std::vector<std::string>{"Nome do EXE nao configurado"});
  frm_.ChamarOutrosEXE();
  for (int tick = 0; tick < 30; ++tick) {  // 300 s of Timer1
    relogio_.advanceMs(10000);
    frm_.Timer1Timer();
  }
  EXPECT_EQ(tela_.registros.size(), 2u);
  int arquivos = 0;
  for (const auto& e : fs::directory_iterator(pasta_.em("ping"))) {
    if (e.path().filename().string().rfind("Restart_em_", 0) == 0) ++arquivos;
  }
  EXPECT_EQ(arquivos, 2);
  EXPECT_TRUE(tela_.erros.empty());
  EXPECT_EQ(zumbisFilhos(), 0);
}

TEST_F(GuardiaoReal, EndingTheGuardianEndsTheSynchronizer) {
  modo("hang");
  const std::string exe = copiar("fim");
  configurar(nome(exe));
  frm_.FormCreate();
  frm_.ChamarOutrosEXE();
  ASSERT_TRUE(esperar([&] { return processosDe(exe).size() == 1; }));
  frm_.sairClick();
  EXPECT_TRUE(tela_.encerrada);
  frm_.FormDestroy();
  EXPECT_TRUE(esperar([&] { return processosDe(exe).empty(); }));
  EXPECT_TRUE(esperar([&] {
    plat::reapChildren();
    return zumbisFilhos() == 0;
  }));
}

}  // namespace

// The process functions and the guardian's start and restart with real processes: copies
// of the test helper stand in for the synchronizer. These wait in real time (label e2e).
// They run on both systems; what only Linux has (process groups and sessions, stopped
// processes, zombies) is checked there alone, through /proc.
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
#include "platform/host.h"
#include "platform/process.h"
#include "procguard/Guardiao.h"

namespace fs = std::filesystem;

namespace {

#ifdef _WIN32
constexpr const char* kExe = ".exe";
#else
constexpr const char* kExe = "";
#endif

bool esperar(const std::function<bool()>& condicao, int ms = 5000) {
  const auto limite = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!condicao()) {
    if (std::chrono::steady_clock::now() > limite) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

#ifdef __linux__
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

// Ids of the live (non-zombie) processes running the executable at caminho, read from /proc
// apart from the functions under test.
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
#endif

// Children of this test's main thread left as zombies. Windows keeps no zombies: an ended
// process is gone once nothing holds it, and the start functions hold nothing.
int zumbisFilhos() {
#ifdef __linux__
  const std::string eu = fs::read_symlink("/proc/self").string();
  std::ifstream in("/proc/" + eu + "/task/" + eu + "/children");
  int zumbis = 0;
  std::string pid;
  while (in >> pid) {
    if (campoStat(pid, 3) == "Z") ++zumbis;
  }
  return zumbis;
#else
  return 0;
#endif
}

int linhas(const std::string& arquivo) {
  std::ifstream in(arquivo);
  int n = 0;
  for (std::string l; std::getline(in, l);) ++n;
  return n;
}

std::string maiusculas(std::string s) {
  for (char& ch : s) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  return s;
}

std::string minusculas(std::string s) {
  for (char& ch : s) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  return s;
}

// The test helper, built beside this program.
std::string testee() {
  return (fs::path(plat::executablePath()).parent_path() / PROCGUARD_TESTEE).string();
}

class ProcessosReais : public testing::Test {
 protected:
  void SetUp() override {
    std::random_device rd;
    std::ostringstream id;
    id << std::hex << rd();
    sufixo_ = id.str();
    modo("silent");
  }
  void TearDown() override {
    for (const auto& c : copias_) plat::killProcesses(c);
    esperar([&] {
      plat::reapChildren();
      for (const auto& c : copias_) {
        if (plat::countProcesses(nome(c)) != 0) return false;
      }
      return true;
    });
  }

  // A copy of the helper under a name of its own in folder p; its full path as the system
  // spells it (the whole-path match compares with that).
  std::string copiar(const std::string& base, const PastaTemp& p) {
    const std::string caminho = fs::path(p.em(base + sufixo_ + kExe)).make_preferred().string();
    fs::copy_file(testee(), caminho);
    copias_.push_back(caminho);
    return caminho;
  }
  std::string copiar(const std::string& base) { return copiar(base, pasta_); }
  static std::string nome(const std::string& caminho) {
    return fs::path(caminho).filename().string();
  }
  std::string inicios() const { return pasta_.em("testee-starts.txt"); }
  void modo(const std::string& m) { modo(m, pasta_); }
  static void modo(const std::string& m, const PastaTemp& p) {
    PastaTemp::gravar(p.em("testee-mode.txt"), m);
  }
  // True when a copy in answer mode answers a heartbeat test file within the time a
  // running one takes (it looks every second).
  bool respondeAoTeste() const {
    fs::create_directories(pasta_.em("ping"));
    fs::remove(pasta_.em("ping/resp-ping.txt"));
    PastaTemp::gravar(pasta_.em("ping/test-ping.txt"), "");
    return esperar([&] { return fs::exists(pasta_.em("ping/resp-ping.txt")); }, 3000);
  }

  PastaTemp pasta_;
  std::string sufixo_;
  std::vector<std::string> copias_;
};

TEST_F(ProcessosReais, CountsStartsAndEndsEveryCopy) {
  modo("answer");
  const std::string exe = copiar("sinc");
  EXPECT_EQ(plat::countProcesses(nome(exe)), 0);
  ASSERT_TRUE(plat::startProcess(exe));
  ASSERT_TRUE(plat::startProcess(exe));
  ASSERT_TRUE(esperar([&] { return plat::countProcesses(nome(exe)) == 2; }));
  EXPECT_TRUE(esperar([&] { return linhas(inicios()) == 2; }));
  EXPECT_TRUE(respondeAoTeste());
#ifdef __linux__
  for (const auto& pid : processosDe(exe)) {
    EXPECT_EQ(campoStat(pid, 5), pid) << "own process group";
    EXPECT_EQ(campoStat(pid, 6), pid) << "own session";
  }
#endif
  EXPECT_TRUE(plat::killProcesses(nome(exe)));
  EXPECT_TRUE(esperar([&] { return plat::countProcesses(nome(exe)) == 0; }))
      << "ended processes, zombies included, are not counted";
  EXPECT_FALSE(respondeAoTeste()) << "no copy runs any more";
  EXPECT_TRUE(esperar([&] {
    plat::reapChildren();
    return zumbisFilhos() == 0;
  }));
  EXPECT_FALSE(plat::killProcesses(nome(exe)));
}

// The guardian starts the synchronizer in its own folder: this program's, here.
#ifdef _WIN32
TEST_F(ProcessosReais, StartsInTheGuardiansFolder) {
  const std::string exe = copiar("pasta");
  ASSERT_TRUE(plat::startProcess(exe));
  ASSERT_TRUE(esperar([&] { return fs::exists(pasta_.em("testee-folder.txt")); }));
  ASSERT_TRUE(esperar([&] { return !PastaTemp::ler(pasta_.em("testee-folder.txt")).empty(); }));
  EXPECT_TRUE(fs::equivalent(PastaTemp::ler(pasta_.em("testee-folder.txt")),
                             fs::path(plat::executablePath()).parent_path()));
}
#else
// On Linux the synchronizer inherits the guardian's working folder; it finds its own files
// through its executable's path, never through the working folder.
#endif

TEST_F(ProcessosReais, NamesMatchInAnyLetterCase) {
  const std::string exe = copiar("SincMaiusc.");
  ASSERT_TRUE(plat::startProcess(exe));
  const std::string minusc = minusculas(nome(exe));
  ASSERT_TRUE(esperar([&] { return plat::countProcesses(minusc) == 1; }));
  EXPECT_EQ(plat::countProcesses(maiusculas(nome(exe))), 1);
  EXPECT_EQ(plat::countProcesses(minusc + "x"), 0);
  EXPECT_EQ(plat::countProcesses(minusc.substr(1)), 0);
  EXPECT_TRUE(plat::killProcesses(minusc));
  EXPECT_TRUE(esperar([&] { return plat::countProcesses(nome(exe)) == 0; }));
}

TEST_F(ProcessosReais, NameWithFolderPartMatchesOnlyTheWholePath) {
  const std::string exe = copiar("sinc");
  ASSERT_TRUE(plat::startProcess(exe));
  ASSERT_TRUE(esperar([&] { return plat::countProcesses(nome(exe)) == 1; }));
  EXPECT_EQ(plat::countProcesses(exe), 0) << "counting compares base names only";
  const std::string outraPasta =
      (fs::path(exe).parent_path().parent_path() / "outra" / nome(exe)).make_preferred().string();
  EXPECT_FALSE(plat::killProcesses(outraPasta));
  EXPECT_FALSE(plat::killProcesses((fs::path("sub") / nome(exe)).make_preferred().string()));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(plat::countProcesses(nome(exe)), 1);
  EXPECT_TRUE(plat::killProcesses(maiusculas(exe)));
  EXPECT_TRUE(esperar([&] { return plat::countProcesses(nome(exe)) == 0; }));
}

// The guardian ends every process of the synchronizer's name but never itself, even when
// it bears that name: a copy that ends its own name ends the other copy and goes on.
TEST_F(ProcessosReais, EndingByNameNeverEndsTheCaller) {
  PastaTemp outra;
  const std::string vitima = copiar("mesmo", pasta_);
  const std::string autor = copiar("mesmo", outra);
  ASSERT_EQ(nome(vitima), nome(autor));
  ASSERT_TRUE(plat::startProcess(vitima));
  ASSERT_TRUE(esperar([&] { return plat::countProcesses(nome(vitima)) == 1; }));
  modo("endsame", outra);
  ASSERT_TRUE(plat::startProcess(autor));
  ASSERT_TRUE(esperar([&] { return !PastaTemp::ler(outra.em("testee-ended.txt")).empty(); }));
  EXPECT_EQ(PastaTemp::ler(outra.em("testee-ended.txt")), "1") << "the other copy was ended";
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_EQ(plat::countProcesses(nome(autor)), 1) << "the one that ended them still runs";
  EXPECT_EQ(linhas(outra.em("testee-starts.txt")), 1);
#ifdef __linux__
  EXPECT_TRUE(processosDe(vitima).empty());
  EXPECT_EQ(processosDe(autor).size(), 1u);
#endif
  // Ended before its folder goes: Windows keeps a running program's folder.
  plat::killProcesses(autor);
  EXPECT_TRUE(esperar([&] { return plat::countProcesses(nome(autor)) == 0; }));
}

// Modes a synchronizer may be found in when the guardian ends it.
TEST_F(ProcessosReais, HungAndStoppedProcessesEnd) {
  std::vector<std::string> modos = {"hang"};  // ignores the polite end requests
#ifdef __linux__
  modos.push_back("stop");  // stopped by a signal, as a debugger does; Windows has none
#endif
  for (const std::string& m : modos) {
    SCOPED_TRACE(m);
    modo(m);
    const std::string exe = copiar(m + "-");
    ASSERT_TRUE(plat::startProcess(exe));
    ASSERT_TRUE(esperar([&] { return plat::countProcesses(nome(exe)) == 1; }));
#ifdef __linux__
    if (m == "stop") {
      ASSERT_TRUE(esperar([&] {
        const auto pids = processosDe(exe);
        return pids.size() == 1 && campoStat(pids[0], 3) == "T";
      }));
      EXPECT_EQ(plat::countProcesses(nome(exe)), 1) << "a stopped process still runs";
    }
#endif
    EXPECT_TRUE(plat::killProcesses(nome(exe)));
    EXPECT_TRUE(esperar([&] { return plat::countProcesses(nome(exe)) == 0; }));
  }
}

TEST_F(ProcessosReais, BadNamesStartNothing) {
  EXPECT_EQ(plat::countProcesses(""), 0);
  EXPECT_FALSE(plat::killProcesses(""));
  EXPECT_FALSE(plat::startProcess(pasta_.pasta())) << "the folder itself";
  EXPECT_FALSE(plat::startProcess(pasta_.em("nao-existe")));
  // No shell reads the name.
  const std::string invadido = fs::path(pasta_.em("invadido")).make_preferred().string();
#ifdef _WIN32
  const std::string comandos[] = {pasta_.em("x & type nul > ") + invadido,
                                  "cmd /c type nul > " + invadido,
                                  "cmd.exe /c type nul > " + invadido};
#else
  const std::string comandos[] = {pasta_.em("x; touch ") + invadido, "touch " + invadido};
#endif
  for (const auto& c : comandos) EXPECT_FALSE(plat::startProcess(c)) << c;
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_FALSE(fs::exists(invadido));
}

// A name is found in a folder as Windows finds it: without regard to letter case.
TEST(FindInFolder, FindsTheFileInAnyLetterCase) {
  PastaTemp pasta;
  std::vector<const char*> arquivos = {"tefsync", "Sinc", "outro.EXE"};
#ifndef _WIN32
  arquivos.push_back("SINC");  // on Windows the same file as "Sinc"
#endif
  for (const char* f : arquivos) PastaTemp::gravar(pasta.em(f), "");
  fs::create_directory(pasta.em("Pasta"));
  struct Caso {
    const char* nome;
    const char* achado;  // "" none
    bool soLinux;        // Windows finds it otherwise: trailing blanks are not part of a name
  } casos[] = {
      {"tefsync", "tefsync", false},
      {"TEFSYNC", "tefsync", false},
      {"TefSync", "tefsync", false},
      {"outro.exe", "outro.EXE", false},
      {"Sinc", "Sinc", false},  // the exact spelling first
      {"sinc", "SINC", false},  // else always the same one of several
      {"tefsyn", "", false},
      {"tefsync ", "", true},
      {"pasta", "", false},  // a folder is no program
      {"", "", false},
      {"../tefsync", "", false},
      {".", "", false},
      {"..", "", false},
  };
  for (const Caso& c : casos) {
    const std::string achado = plat::findInFolder(pasta.pasta(), c.nome);
    const std::string esperado = *c.achado ? pasta.em(c.achado) : "";
#ifdef _WIN32
    if (c.soLinux) continue;
    // Any spelling names the same file on Windows: it is found as it was asked for.
    EXPECT_EQ(maiusculas(achado), maiusculas(esperado)) << c.nome;
#else
    EXPECT_EQ(achado, esperado) << c.nome;
#endif
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

// Also with the name in the settings in another letter case than the file's: it is found,
// started, and a running copy is counted under it.
TEST_F(GuardiaoReal, StartsTheSynchronizerWhenAbsentOnly) {
  struct Caso {
    bool presente, maiusculo;
  } casos[] = {{false, false}, {true, false}, {false, true}, {true, true}};
  for (const Caso& c : casos) {
    const bool presente = c.presente;
    SCOPED_TRACE(std::string(presente ? "running" : "absent") +
                 (c.maiusculo ? ", upper case" : ""));
    const std::string exe =
        copiar(std::string(presente ? "presente" : "ausente") + (c.maiusculo ? "-m" : "-"));
    fs::remove(inicios());
    configurar(c.maiusculo ? maiusculas(nome(exe)) : nome(exe));
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
  ASSERT_TRUE(esperar([&] { return plat::countProcesses(nome(exe)) == 2; }));
#ifdef __linux__
  const auto antigos = processosDe(exe);
#endif
  frm_.FormCreate();
  frm_.ChamarOutrosEXE();
  EXPECT_EQ(plat::countProcesses(nome(exe)), 2);

  frm_.btnReiniciarSincClick();
  EXPECT_EQ(tela_.registros.size(), 1u);
  ASSERT_TRUE(esperar([&] { return linhas(inicios()) == 3; }));
  ASSERT_TRUE(esperar([&] { return plat::countProcesses(nome(exe)) == 1; }));
#ifdef __linux__
  for (const auto& pid : antigos) EXPECT_NE(processosDe(exe)[0], pid);
#endif
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
  ASSERT_TRUE(esperar([&] { return plat::countProcesses(nome(exe)) == 1; }));
  frm_.sairClick();
  EXPECT_TRUE(tela_.encerrada);
  frm_.FormDestroy();
  EXPECT_TRUE(esperar([&] { return plat::countProcesses(nome(exe)) == 0; }));
  EXPECT_TRUE(esperar([&] {
    plat::reapChildren();
    return zumbisFilhos() == 0;
  }));
}

}  // namespace

// A service object over a fresh drive C and executable folder, on a virtual clock, with
// the Sitef manager stand-in acting during every pause and the cloud stand-in on loopback.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "cloud_stand_in.h"
#include "platform/child.h"
#include "platform/clock.h"
#include "tefsync/core/TfrmPrincipal.h"
#include "tests/support/test_env.h"
#include "tools/sitef-sim/sitef_sim.h"

namespace fs = std::filesystem;

using Lines = std::vector<std::pair<std::string, std::string>>;

inline const char* const kToken = "tok-S3CRET-9f8e7d";

struct Sent {
  std::string method, url;
  int64_t atMs;
};

class TimedClient : public plat::HttpClient {
 public:
  TimedClient(std::unique_ptr<plat::HttpClient> inner, std::vector<Sent>& log)
      : inner_(std::move(inner)), log_(log) {}
  plat::HttpResponse send(const std::string& method, const std::string& url,
                          const plat::HttpHeaders& headers, const std::string& body,
                          long timeoutMs) override {
    log_.push_back({method, url, plat::clock().monotonicMs()});
    if (hook) hook(url, false);
    plat::HttpResponse r = inner_->send(method, url, headers, body, timeoutMs);
    if (hook) hook(url, true);
    return r;
  }
  // Called before each request and once its answer came (a test may stop the program there).
  std::function<void(const std::string& url, bool answered)> hook;

 private:
  std::unique_ptr<plat::HttpClient> inner_;
  std::vector<Sent>& log_;
};

struct Settings {
  std::string token = kToken;
  std::string cnpj = "12.345.678/0001-90";
  std::string idvelantra = "9";
  std::string idcaixa = "0";
  std::string url;  // empty: the mock's base URL
  std::string sitef = "SIM";
  std::string timer = "10";
};

// The fixture is the service's shell: errors are recorded, rows and repaints counted, an
// end is pending from endAfterMs on.
class ServiceTest : public ::testing::Test, public tefsync::Shell {
 protected:
  ServiceTest() {
    if (const char* given = std::getenv(kRootVariable); given && *given) {
      root_ = given;
      childRole_ = true;
    } else {
      std::random_device rd;
      root_ = testsupport::tempRoot() /
              ("tefsync_test_" + std::to_string(rd()) + "_" + std::to_string(rd()));
    }
    fs::create_directories(root_ / "drive_c" / "Client" / "REQ");
    fs::create_directories(root_ / "drive_c" / "Client" / "RESP");
    fs::create_directories(root_ / "drive_c" / "drivezkt");
    fs::create_directories(root_ / "exe");
    const char* old = std::getenv("TEFSYNC_DRIVE_C");
    hadOld_ = old != nullptr;
    if (old) oldDrive_ = old;
    testsupport::setEnv("TEFSYNC_DRIVE_C", (root_ / "drive_c").string());
    hookId_ = clock.addSleepHook([this](int64_t) {
      for (auto& w : watchers) w();
      if (sim) sim->step();
    });
  }
  void SetUp() override {
    if (const std::string why = mock.unavailable(); usesCloud() && !why.empty())
      GTEST_SKIP() << why;
  }
  // False for tests that never reach the cloud: they run without a stand-in.
  virtual bool usesCloud() const { return true; }
  ~ServiceTest() override {
    clock.removeSleepHook(hookId_);
    svc.reset();
    cloud_.reset();
    testsupport::setEnv("TEFSYNC_DRIVE_C", hadOld_ ? oldDrive_.c_str() : nullptr);
    std::error_code ec;
    if (!childRole_) fs::remove_all(root_, ec);
  }

  // A second run of this test program (plat::runSelf), for a test that ends the program at
  // once, works in the first run's folders, named by this variable, and its cloud stand-in.
  static constexpr const char* kRootVariable = "TEFSYNC_TEST_SERVICE_ROOT";
  plat::EnvVars childEnv() const {
    return {{kRootVariable, root_.string()}, {cloudtest::kCloudVariable, mock.rootUrl()}};
  }
  bool childRole() const { return childRole_; }

  std::string exeDir() const { return (root_ / "exe").string() + "/"; }
  std::string drive(const std::string& rel) const { return (root_ / "drive_c" / rel).string(); }
  std::string pingFile(const std::string& name) const { return exeDir() + "ping/" + name; }
  static std::string read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  static void write(const std::string& path, const std::string& bytes) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
  }

  void writeSettings(Settings s) {
    if (s.url.empty() && mock.started()) s.url = mock.baseUrl();
    write(exeDir() + "configAPI_TEF.ini",
          "[CONF]\r\nTOKEN_VELANTRA=" + s.token + "\r\nedtCnpjTEf=" + s.cnpj + "\r\nidvelantra=" +
              s.idvelantra + "\r\nIdCaixa=" + s.idcaixa + "\r\nURLBASE=" + s.url +
              "\r\nchkTefSitef=" + s.sitef + "\r\nchkTefCielo=NAO\r\ntimerApi=" + s.timer + "\r\n");
  }

  // Starts the cloud mock, writes the settings and creates the service.
  void start(Settings s = {}, std::string caFile = {}) {
    mock.start();
    writeSettings(std::move(s));
    createService(std::move(caFile));
  }
  void createService(std::string caFile = {}) {
    tefsync::TfrmPrincipal::Environment env;
    env.exeDir = exeDir();
    env.computerName = computerName;
    env.caFile = std::move(caFile);
    // The real client, noting the virtual time of each request.
    env.makeHttp = [this](const std::string& ca) -> std::unique_ptr<plat::HttpClient> {
      auto client = std::make_unique<TimedClient>(plat::makeHttpClient(ca), sent);
      client->hook = sendHook;
      return client;
    };
    env.exitNow = [this](int code) {
      if (exitNow) exitNow(code);
      ADD_FAILURE() << "the program ended at once";
      throw std::logic_error("ended at once");
    };
    svc = std::make_unique<tefsync::TfrmPrincipal>(*this, env);
    svc->FormCreate();
  }
  void startManager(const std::string& script = "") {
    sim = std::make_unique<sitefsim::Simulator>((root_ / "drive_c").string(),
                                                sitefsim::parseScript(script),
                                                (root_ / "manager.journal").string());
  }
  std::string journalPath() const { return (root_ / "manager.journal").string(); }
  sitefsim::JournalView journal() const { return sitefsim::readJournal(journalPath()); }
  std::vector<std::string> managerOps() const {
    std::vector<std::string> out;
    for (const auto& r : journal().requests) out.push_back(r.op);
    return out;
  }
  // Requests as the manager finds them in REQ\.
  void captureRequests() {
    watchers.push_back([this] {
      const std::string p = drive("Client/REQ/INTPOS.001");
      if (fs::exists(p)) {
        std::string bytes = read(p);
        if (requests.empty() || requests.back() != bytes) requests.push_back(bytes);
      }
    });
  }

  // One poll tick with a poll due.
  void poll() {
    svc->uGetAPI = 0;
    svc->timerApiTimer();
  }

  // The log as (Operacao, Mensagem), without the heartbeat's lines.
  Lines log(bool withPing = false) const {
    Lines out;
    for (const auto& r : svc->tblList) {
      if (!withPing && r.Operacao == "Resp-Ping.txt") continue;
      out.emplace_back(r.Operacao, r.Mensagem);
    }
    return out;
  }

  // A payment request in the cloud for company 9.
  int64_t addRequest(int id, const std::vector<std::pair<std::string, std::string>>& payments,
                     int user = 1) {
    cloudtest::Json r = cloudtest::Json::object();
    r["id"] = id;
    r["user_id"] = user;
    r["empresa_id"] = 9;
    r["numero"] = id + 1000;
    r["status"] = 1;
    for (size_t i = 0; i < payments.size(); ++i) {
      r["requisicao_" + std::to_string(i + 1)] = payments[i].first;
      r["valor_" + std::to_string(i + 1)] = payments[i].second;
    }
    return mock.addRequest(r);
  }
  int cloudStatus(int64_t id) const {
    for (const auto& r : mock.requests()) {
      if (r["id"] == id) return r["status"].get<int>();
    }
    return -1;
  }
  cloudtest::Json cloudTexts(int64_t id) const {
    for (const auto& r : mock.requests()) {
      if (r["id"] == id) return r["texts"];
    }
    return {};
  }

  plat::VirtualClock clock{plat::DateTime{2024, 3, 7, 9, 5, 4, 0}};
  plat::ScopedClock scoped{clock};
  std::unique_ptr<cloudtest::CloudStandIn> cloud_ = cloudtest::makeCloudStandIn();
  cloudtest::CloudStandIn& mock = *cloud_;
  std::unique_ptr<sitefsim::Simulator> sim;
  std::unique_ptr<tefsync::TfrmPrincipal> svc;
  std::vector<std::function<void()>> watchers;
  // Given to the HTTP client of each service created from now on.
  std::function<void(const std::string& url, bool answered)> sendHook;
  std::vector<std::string> requests;
  std::vector<std::string> errors;
  std::vector<Sent> sent;
  // Virtual times of the requests whose URL ends with suffix.
  std::vector<int64_t> sentAt(const std::string& suffix) const {
    std::vector<int64_t> out;
    for (const auto& s : sent) {
      if (s.url.size() >= suffix.size() &&
          s.url.compare(s.url.size() - suffix.size(), suffix.size(), suffix) == 0)
        out.push_back(s.atMs);
    }
    return out;
  }
  std::string computerName = "CAIXA01";
  int64_t endAfterMs = -1;

  // Shell
  void logRowAdded(const tefsync::LogRow& row) override { rowsSeen.push_back(row.Operacao); }
  void stateChanged() override { ++repaints; }
  void showError(const std::string& message) override {
    if (errorBox)
      errorBox(message);
    else
      errors.push_back(message);
  }
  void endProgram() override { ++endCalls; }
  bool endPending() override { return endAfterMs >= 0 && clock.monotonicMs() >= endAfterMs; }
  std::vector<std::string> rowsSeen;
  int repaints = 0;
  int endCalls = 0;
  // Runs where the program would end at once (in a child process, a test may end it).
  std::function<void(int code)> exitNow;
  // Replaces the recording of errors (a window's box with a nested event loop).
  std::function<void(const std::string&)> errorBox;

 private:
  fs::path root_;
  bool childRole_ = false;
  std::string oldDrive_;
  bool hadOld_ = false;
  int hookId_ = 0;
};

// Figures of the service in one process: the overhead of a payment request against a
// manager stand-in and a cloud mock that answer at once, and the TCP connections a run of
// status queries opens.
//
//   bench_tefsync latency [--payments N] [--runs R] [--clock virtual|real]
//   bench_tefsync connections [--polls N]
//
// Overhead is the time from the status-1 report to the end of the status-8 report, less
// every pause the system made on the clock and less the manager stand-in's own work. On
// the virtual clock pauses cost no real time; on the real clock they are timed and summed.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/clock.h"
#include "platform/http.h"
#include "tefsync/core/TfrmPrincipal.h"
#include "tools/cloud-mock/cloud_mock.h"
#include "tools/sitef-sim/sitef_sim.h"

namespace fs = std::filesystem;

namespace {

using Steady = std::chrono::steady_clock;

double msSince(Steady::time_point t0, Steady::time_point t1) {
  return std::chrono::duration<double, std::milli>(t1 - t0).count();
}

// What the run has spent so far: pauses on the clock and the stand-in's work, in real ms.
struct Spent {
  double pausesMs = 0;   // summed waits of the system (virtual or real)
  double standInMs = 0;  // real time inside the manager stand-in
  double httpMs = 0;     // real time of the requests to the cloud mock (part of the overhead)
};

// The system clock, with every pause timed and the stand-in run after it, as the virtual
// clock runs its hooks.
class CountingClock final : public plat::Clock {
 public:
  CountingClock(Spent& spent, std::function<void()> afterPause)
      : spent_(spent), afterPause_(std::move(afterPause)) {}
  plat::DateTime now() override { return sys_.now(); }
  int64_t monotonicMs() override { return sys_.monotonicMs(); }
  void sleepMs(int64_t ms) override {
    const auto t0 = Steady::now();
    sys_.sleepMs(ms);
    const auto t1 = Steady::now();
    spent_.pausesMs += msSince(t0, t1);
    afterPause_();
    spent_.standInMs += msSince(t1, Steady::now());
  }

 private:
  plat::SystemClock sys_;
  Spent& spent_;
  std::function<void()> afterPause_;
};

struct Mark {
  Steady::time_point at;
  Spent spent;
};

// Notes when the status-1 report leaves and when the status-8 report is answered.
class MarkingClient final : public plat::HttpClient {
 public:
  MarkingClient(std::unique_ptr<plat::HttpClient> inner, Spent& spent,
                std::vector<std::pair<Mark, Mark>>& sales)
      : inner_(std::move(inner)), spent_(spent), sales_(sales) {}
  plat::HttpResponse send(const std::string& method, const std::string& url,
                          const plat::HttpHeaders& headers, const std::string& body,
                          long timeoutMs) override {
    const bool status = url.size() >= 7 && url.compare(url.size() - 7, 7, "/status") == 0;
    if (status && body.find("\"status\":1}") != std::string::npos) start_ = {Steady::now(), spent_};
    const auto t0 = Steady::now();
    plat::HttpResponse r = inner_->send(method, url, headers, body, timeoutMs);
    spent_.httpMs += msSince(t0, Steady::now());
    if (status && body.find("\"status\":8}") != std::string::npos)
      sales_.emplace_back(start_, Mark{Steady::now(), spent_});
    return r;
  }

 private:
  std::unique_ptr<plat::HttpClient> inner_;
  Spent& spent_;
  std::vector<std::pair<Mark, Mark>>& sales_;
  Mark start_;
};

// Errors go to standard error; nothing else is shown.
struct BenchShell final : tefsync::Shell {
  void logRowAdded(const tefsync::LogRow&) override {}
  void stateChanged() override {}
  void showError(const std::string& m) override { std::cerr << "error box: " << m << "\n"; }
  void endProgram() override {}
  bool endPending() override { return false; }
};

struct Bench {
  fs::path root;
  BenchShell shell;
  cloudmock::CloudMock mock;
  std::unique_ptr<sitefsim::Simulator> sim;
  std::unique_ptr<tefsync::TfrmPrincipal> svc;
  Spent spent;
  std::vector<std::pair<Mark, Mark>> sales;

  Bench() {
    std::random_device rd;
    root = fs::temp_directory_path() / ("tefsync_bench_" + std::to_string(rd()));
    fs::create_directories(root / "drive_c" / "Client" / "REQ");
    fs::create_directories(root / "drive_c" / "Client" / "RESP");
    fs::create_directories(root / "drive_c" / "drivezkt");
    fs::create_directories(root / "exe");
    ::setenv("TEFSYNC_DRIVE_C", (root / "drive_c").c_str(), 1);
  }
  ~Bench() {
    svc.reset();
    mock.stop();
    std::error_code ec;
    fs::remove_all(root, ec);
  }

  void start() {
    mock.start();
    std::ofstream(root / "exe" / "configAPI_TEF.ini", std::ios::binary)
        << "[CONF]\r\nTOKEN_VELANTRA=bench\r\nedtCnpjTEf=12.345.678/0001-90\r\nidvelantra=9\r\n"
           "IdCaixa=0\r\nURLBASE="
        << mock.baseUrl() << "\r\nchkTefSitef=SIM\r\nchkTefCielo=NAO\r\ntimerApi=11\r\n";
    sim = std::make_unique<sitefsim::Simulator>((root / "drive_c").string(),
                                                std::vector<sitefsim::Rule>{},
                                                (root / "manager.journal").string());
    tefsync::TfrmPrincipal::Environment env;
    env.exeDir = (root / "exe").string() + "/";
    env.computerName = "CAIXA01";
    env.makeHttp = [this](const std::string& ca) -> std::unique_ptr<plat::HttpClient> {
      return std::make_unique<MarkingClient>(plat::makeHttpClient(ca), spent, sales);
    };
    svc = std::make_unique<tefsync::TfrmPrincipal>(shell, env);
    svc->FormCreate();
  }

  void stepStandIn() {
    const auto t0 = Steady::now();
    sim->step();
    spent.standInMs += msSince(t0, Steady::now());
  }

  int64_t addSale(int id, int payments) {
    cloudmock::Json r = cloudmock::Json::object();
    r["id"] = id;
    r["user_id"] = 1;
    r["empresa_id"] = 9;
    r["numero"] = id + 1000;
    r["status"] = 1;
    for (int i = 1; i <= payments; ++i) {
      r["requisicao_" + std::to_string(i)] = "CRT";
      r["valor_" + std::to_string(i)] = std::to_string(10 * i) + ".50";
    }
    const int64_t got = mock.addRequest(r);
    mock.setDecision(got, 7);
    return got;
  }

  int cloudStatus(int64_t id) const {
    for (const auto& r : mock.requests())
      if (r["id"] == id) return r["status"].get<int>();
    return -1;
  }
};

int argInt(int argc, char** argv, const std::string& name, int fallback) {
  for (int i = 2; i + 1 < argc; ++i)
    if (argv[i] == name) return std::atoi(argv[i + 1]);
  return fallback;
}

std::string argText(int argc, char** argv, const std::string& name, const std::string& fallback) {
  for (int i = 2; i + 1 < argc; ++i)
    if (argv[i] == name) return argv[i + 1];
  return fallback;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

int latency(int payments, int runs, bool realClock) {
  Bench b;
  plat::VirtualClock virtualClock{plat::DateTime{2024, 3, 7, 9, 5, 4, 0}};
  CountingClock countingClock(b.spent, [&b] { b.sim->step(); });
  plat::Clock& clock = realClock ? static_cast<plat::Clock&>(countingClock) : virtualClock;
  plat::ScopedClock scoped(clock);
  if (!realClock) {
    virtualClock.addSleepHook([&b](int64_t ms) {
      b.spent.pausesMs += static_cast<double>(ms);
      b.stepStandIn();
    });
  }
  b.start();

  std::vector<double> overhead, total, pauses, standIn, http;
  for (int i = 0; i < runs + 1; ++i) {  // the first sale warms up and is not counted
    const int64_t id = b.addSale(100 + i, payments);
    const size_t before = b.sales.size();
    if (!realClock) virtualClock.advanceMs(12000);
    b.svc->uGetAPI = 0;
    b.svc->timerApiTimer();
    if (b.sales.size() != before + 1 || b.cloudStatus(id) != 8) {
      std::cerr << "sale " << id << " did not end with status 8\n";
      return 1;
    }
    if (i == 0) continue;
    const auto& [s, e] = b.sales.back();
    const double p = e.spent.pausesMs - s.spent.pausesMs;
    const double st = e.spent.standInMs - s.spent.standInMs;
    // Real time of the run; on the virtual clock the pauses took none of it.
    const double real = msSince(s.at, e.at);
    const double own = real - (realClock ? p : 0) - st;
    overhead.push_back(own);
    total.push_back(own + p);
    pauses.push_back(p);
    standIn.push_back(st);
    http.push_back(e.spent.httpMs - s.spent.httpMs);
  }
  std::vector<double> share;
  for (size_t i = 0; i < overhead.size(); ++i) share.push_back(100.0 * overhead[i] / total[i]);
  std::printf(
      "latency payments=%d clock=%s runs=%d overhead_ms_median=%.2f overhead_ms_max=%.2f "
      "pauses_ms_median=%.0f total_ms_median=%.0f share_pct_median=%.3f share_pct_max=%.3f "
      "standin_ms_median=%.2f http_ms_median=%.2f\n",
      payments, realClock ? "real" : "virtual", runs, median(overhead),
      *std::max_element(overhead.begin(), overhead.end()), median(pauses), median(total),
      median(share), *std::max_element(share.begin(), share.end()), median(standIn), median(http));
  return 0;
}

int connections(int polls) {
  Bench b;
  plat::VirtualClock virtualClock{plat::DateTime{2024, 3, 7, 9, 5, 4, 0}};
  plat::ScopedClock scoped(virtualClock);
  b.start();
  for (int i = 0; i < polls; ++i) {
    virtualClock.advanceMs(11000);
    b.svc->uGetAPI = 0;
    b.svc->timerApiTimer();
  }
  std::set<int> ports;
  int gets = 0;
  for (const auto& r : b.mock.recorded()) {
    if (r.method != "GET") continue;
    ++gets;
    ports.insert(r.remotePort);
  }
  std::printf("connections polls=%d status_queries=%d tcp_connections=%zu\n", polls, gets,
              ports.size());
  return gets == polls ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string cmd = argc > 1 ? argv[1] : "";
  try {
    if (cmd == "latency")
      return latency(argInt(argc, argv, "--payments", 1), argInt(argc, argv, "--runs", 20),
                     argText(argc, argv, "--clock", "virtual") == "real");
    if (cmd == "connections") return connections(argInt(argc, argv, "--polls", 100));
  } catch (const std::exception& e) {
    std::cerr << "bench_tefsync: " << e.what() << "\n";
    return 1;
  }
  std::cerr << "usage: bench_tefsync latency [--payments N] [--runs R] [--clock virtual|real]\n"
               "       bench_tefsync connections [--polls N]\n";
  return 2;
}

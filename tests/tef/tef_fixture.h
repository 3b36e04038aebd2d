// A fresh drive C with the manager's folders, a virtual clock, the manager stand-in acting
// during the engine's pauses, and an engine over them.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "fiscal/TfrmTEFSelect.h"
#include "platform/clock.h"
#include "tef/TfrmTEFSitef.h"
#include "tef/TfrmTefSitef_XE.h"
#include "tests/support/test_env.h"
#include "tools/sitef-sim/sitef_sim.h"

// Thrown from a pause to end a wait that has no limit.
struct Deadline {};

class TefTest : public ::testing::Test {
 protected:
  // The test's folders exactly here (a child run works on its parent's folders).
  struct Root {
    std::filesystem::path path;
  };
  // base: where the test's folders go; the system's temporary folder when empty.
  explicit TefTest(std::filesystem::path base = {}) : TefTest(Root{freshRoot(std::move(base))}) {}
  explicit TefTest(Root root) : root_(std::move(root.path)) {
    std::filesystem::create_directories(root_ / "drive_c" / "Client" / "REQ");
    std::filesystem::create_directories(root_ / "drive_c" / "Client" / "RESP");
    std::filesystem::create_directories(root_ / "drive_c" / "drivezkt");
    const char* old = std::getenv("TEFSYNC_DRIVE_C");
    if (old) oldDrive_ = old;
    hadOld_ = old != nullptr;
    testsupport::setEnv("TEFSYNC_DRIVE_C", drive());
    select.temTefSitef = true;
    newEngine();
    hookId_ = clock.addSleepHook([this](int64_t) {
      for (auto& w : watchers) w();
      if (sim) sim->step();
      if (deadlineMs >= 0 && clock.monotonicMs() > deadlineMs) {
        deadlineMs = -1;
        throw Deadline{};
      }
    });
  }
  ~TefTest() override {
    clock.removeSleepHook(hookId_);
    engine.reset();
    testsupport::setEnv("TEFSYNC_DRIVE_C", hadOld_ ? oldDrive_.c_str() : nullptr);
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
  }

  std::string drive() const { return (root_ / "drive_c").string(); }
  std::string journalPath() const { return (root_ / "manager.journal").string(); }
  // Native path of a file under drive C, e.g. at("Client/RESP/INTPOS.001").
  std::string at(const std::string& rel) const { return drive() + "/" + rel; }
  bool has(const std::string& rel) const { return std::filesystem::exists(at(rel)); }
  std::string get(const std::string& rel) const {
    std::ifstream in(at(rel), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  void put(const std::string& rel, const std::string& bytes) const {
    std::filesystem::create_directories(std::filesystem::path(at(rel)).parent_path());
    std::ofstream(at(rel), std::ios::binary) << bytes;
  }

  // Starts the manager stand-in with these rules.
  void startManager(std::vector<sitefsim::Rule> rules = {}) {
    sim = std::make_unique<sitefsim::Simulator>(drive(), std::move(rules), journalPath());
  }
  void startManager(const std::string& script) { startManager(sitefsim::parseScript(script)); }
  sitefsim::JournalView journal() const { return sitefsim::readJournal(journalPath()); }
  // Operations of the requests the manager received, in order.
  std::vector<std::string> ops() const {
    std::vector<std::string> out;
    for (const auto& r : journal().requests) out.push_back(r.op);
    return out;
  }

  void newEngine() {
    engine.reset();
    xe = std::make_unique<tef::TfrmTefSitef_XE>();
    engine = std::make_unique<tef::TfrmTEFSitef>(*xe, select);
    engine->cnpj_da_empresa = "12345678000190";
  }

  // Records each request as the manager would find it, before the manager takes it.
  void captureRequests() {
    watchers.push_back([this] {
      const std::string p = at("Client/REQ/INTPOS.001");
      if (std::filesystem::exists(p)) {
        std::ifstream in(p, std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(in)), {});
        if (requests.empty() || requests.back() != bytes) requests.push_back(bytes);
      }
    });
  }

  plat::VirtualClock clock;
  plat::ScopedClock scoped{clock};
  fiscal::TfrmTEFSelect select;
  std::unique_ptr<tef::TfrmTefSitef_XE> xe;
  std::unique_ptr<tef::TfrmTEFSitef> engine;
  std::unique_ptr<sitefsim::Simulator> sim;
  std::vector<std::function<void()>> watchers;
  std::vector<std::string> requests;
  int64_t deadlineMs = -1;

  // A new folder's name under base (the system's temporary folder when empty).
  static std::filesystem::path freshRoot(std::filesystem::path base) {
    std::random_device rd;
    if (base.empty()) base = testsupport::tempRoot();
    return base / ("tef_test_" + std::to_string(rd()) + "_" + std::to_string(rd()));
  }

 private:
  std::filesystem::path root_;
  std::string oldDrive_;
  bool hadOld_ = false;
  int hookId_ = 0;
};

// An answer file as the manager writes it (CR LF, Windows-1252 bytes given directly).
inline std::string answerText(const std::vector<std::string>& lines) {
  std::string s;
  for (const auto& l : lines) s += l + "\r\n";
  return s;
}

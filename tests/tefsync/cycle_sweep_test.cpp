// Stops the synchronizer dead at every change it makes to the disk and at every report to the
// cloud (before it leaves, and once its answer came) while it carries out one whole request,
// then starts it again on the same folders, as after a power cut, with the manager and the
// cloud running on. The cloud decides only once it holds status 5, at once or after a while.
// After the restart has ended the request:
//   - every payment the manager approved is finished exactly once: as the cloud decided when
//     the cloud was told 5, undone when it never was;
//   - the cloud's last status for the request is 8 when it was told 5, else 4 (or, when the
//     cut came before the sale was recorded, the request was sold again from the start);
//   - the record of taken requests holds nothing open, and nothing is left in REQ\, RESP\ (but
//     the acknowledgment) or the backup folder (but the record of finished transactions and
//     the lock).
#include <filesystem>
#include <iostream>

#include "platform/child.h"
#include "platform/fs.h"
#include "service_fixture.h"

namespace {

using sitefsim::Transaction;
using tefsync::TakenRequests;

struct SweepCase {
  const char* name;
  std::vector<std::pair<std::string, std::string>> payments;
  int decision;  // 6 or 7
  int after;     // "no decision" answers at 5 before it
};

int sweepStride() {
  const char* v = std::getenv("TEFSYNC_SWEEP_STRIDE");
  const int n = v ? std::atoi(v) : 1;
  return n > 1 ? n : 1;
}

int gCutPoints = 0;

class CycleSweep : public ServiceTest, public ::testing::WithParamInterface<SweepCase> {
 protected:
  const SweepCase& c = GetParam();
  static constexpr int kId = 57;

  ~CycleSweep() override { plat::setFsOpHook(nullptr); }

  // Folders, record and manager as before the request; the cloud offers it again.
  void fresh() {
    svc.reset();
    sim.reset();
    for (const char* d : {"Client", "drivezkt"}) fs::remove_all(drive(d));
    fs::remove(exeDir() + TakenRequests::kArquivo);
    fs::remove(journalPath());
    fs::remove(journalPath() + ".owed");
    fs::create_directories(drive("Client/REQ"));
    fs::create_directories(drive("Client/RESP"));
    fs::create_directories(drive("drivezkt"));
    mock.reset();
    addRequest(kId, c.payments);
    mock.setDecision(kId, c.decision, c.after);
    startManager();
  }

  // The changes to the disk and the report points of one run, counted; the cut-th is never
  // passed (0: no cut).
  void count(int* n, int cut) {
    const auto point = [this, n, cut] {
      if (sim && sim->acting()) return;  // the manager is another program
      if (++*n == cut) plat::exitNow(99);
    };
    plat::setFsOpHook(point);
    sendHook = [point](const std::string&, bool) { point(); };
  }
  void uncount() {
    plat::setFsOpHook(nullptr);
    sendHook = nullptr;
  }

  // The program's run: start, one poll that carries the request out.
  void run() {
    createService();
    endAfterMs = clock.monotonicMs() + 4 * 3600 * 1000;  // every wait here ends long before
    poll();
    endAfterMs = -1;
  }

  // After a cut: starts again and polls until nothing is open (a few polls at most).
  std::string restart() {
    uncount();
    for (int i = 0; i < 4; ++i) {
      try {
        run();
      } catch (const std::exception& e) {
        return std::string(" restart threw: ") + e.what();
      }
      if (svc->endRequested) return " a wait never ended";
      if (!errors.empty()) return " error: " + errors.back();
      if (svc->takenRequests().open().empty() && cloudStatus(kId) >= 4) break;
    }
    return {};
  }

  std::string check() const;
};

std::string CycleSweep::check() const {
  std::string bad;
  bool told5 = false;
  for (const auto& r : mock.recorded())
    if (r.path.find("/retorno") != std::string::npos &&
        cloudmock::Json::parse(r.body)["status"] == 5)
      told5 = true;
  const int last = cloudStatus(kId);
  if (told5 && last != 8) bad += " told 5, last status " + std::to_string(last);
  if (!told5 && last != 4 && last != 8) bad += " never told 5, last status " + std::to_string(last);
  const bool confirm = told5 && c.decision == 7;
  const auto j = journal();
  for (const auto& t : j.transactions) bad += sitefsim::endFaults(t, confirm);
  for (const auto& o : j.orphanFinishes) bad += " finish of no transaction: " + o;
  // A sale the cloud saw at 5 was sold once; one cut before its record may be sold again.
  if (told5) {
    size_t approved = 0;
    for (const auto& t : j.transactions)
      if (t.state() == Transaction::State::Confirmed) ++approved;
    if (confirm && approved != c.payments.size())
      bad += " " + std::to_string(approved) + " payments confirmed";
  }
  const auto allowed = [](const std::string& rel) {
    return rel == "Client/BKPINTPOS/Finalizadas.zkt" || rel == "Client/BKPINTPOS/tefsync.lock" ||
           rel == "drivezkt/tmp/tef_Sitef/INTPOS.TXT" || rel == "Client/RESP/INTPOS.STS";
  };
  for (const char* top : {"Client", "drivezkt"})
    for (const auto& e : fs::recursive_directory_iterator(drive(top))) {
      if (e.is_directory()) continue;
      const std::string rel = fs::relative(e.path(), drive("")).generic_string();
      if (!allowed(rel)) bad += " left " + rel;
    }
  return bad;
}

TEST_P(CycleSweep, EveryCutEndsAsTheCloudDecided) {
  if (plat::runInChild([] {}) < 0) GTEST_SKIP() << "cuts need fork (the engine's sweep runs here)";
  startManager();
  mock.start();
  writeSettings({});
  // The whole run, counted.
  fresh();
  int total = 0;
  count(&total, -1);
  run();
  uncount();
  ASSERT_EQ(cloudStatus(kId), 8);
  ASSERT_EQ(check(), "") << "without a cut";

  int points = 0;
  const int stride = sweepStride();
  for (int k = 1; k <= total; k += stride) {
    fresh();
    const int status = plat::runInChild([&] {
      int n = 0;
      count(&n, k);
      run();
    });
    ASSERT_EQ(status, 99) << "cut " << k << " not reached";
    sitefsim::journalCut(journalPath());
    startManager();  // the manager ran on meanwhile
    sim->deliverOwed();
    sim->step();
    const std::string ran = restart();
    ++points;
    EXPECT_EQ(ran + check(), "") << "cut before point " << k << " of " << total;
  }
  gCutPoints += points;
  std::cout << "[ cycle sweep ] " << c.name << ": " << points << " cut points of " << total
            << (stride > 1 ? " (every " + std::to_string(stride) + "th)" : "") << std::endl;
  RecordProperty("cut_points", points);
}

const SweepCase kCases[] = {
    {"OnePaymentConfirmed", {{"CRT", "25,90"}}, 7, 0},
    {"OnePaymentUndoneLater", {{"CRT", "25,90"}}, 6, 3},
    {"TwoPaymentsConfirmedLater", {{"CRT", "10,00"}, {"CRT", "5,00"}}, 7, 3},
    {"TwoPaymentsUndone", {{"CRT", "10,00"}, {"CRT", "5,00"}}, 6, 0},
    {"ThreePaymentsConfirmed", {{"CRT", "1,00"}, {"CRT", "2,00"}, {"CRT", "3,00"}}, 7, 0},
    {"ThreePaymentsUndoneLater", {{"CRT", "1,00"}, {"CRT", "2,00"}, {"CRT", "3,00"}}, 6, 3},
};
void PrintTo(const SweepCase& c, std::ostream* os) {
  *os << c.name;
}

INSTANTIATE_TEST_SUITE_P(Cases, CycleSweep, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

class SweepTotals : public ::testing::Environment {
 public:
  void TearDown() override {
    if (gCutPoints > 0)
      std::cout << "[ cycle sweep ] in all: " << gCutPoints << " cut points" << std::endl;
  }
};
[[maybe_unused]] const auto* const kTotals = ::testing::AddGlobalTestEnvironment(new SweepTotals);

}  // namespace

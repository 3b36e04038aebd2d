// Stops a sale, its decision and the recoveries after it dead at every file-system change in
// turn, as a power cut would, against a manager that may itself fail: it may leave a request
// unacknowledged, or answer one the shop's program gave up on. The manager goes on running
// through a cut: whatever request was placed is taken, whatever it still owed is delivered.
//
// A case is a sale with its decision and the manager's behaviour in the sale and in each of
// the three recoveries that follow (each run by a fresh engine, as after a restart). The sweep
// cuts the sale, the first recovery or the second recovery at every change, and for some
// cases the first and the second recovery both, then lets the remaining recoveries run. After
// the last recovery:
//   - every transaction the manager approved is finished exactly once, confirmed when the
//     confirmation had begun (the pending-sale marker was gone) and undone otherwise; a repeat
//     is accepted only as the saved request sent again unchanged after a cut (the engine
//     cannot know whether the manager took it before the power went);
//   - no finish names a transaction the manager does not know;
//   - nothing is left in REQ\, in C:\CLIENT\ itself, in the engine's temporary folder (but the
//     inspection copy), in the backup folder (but the record of finished transactions), and no
//     answer is left in RESP\.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <optional>
#include <sstream>

#include "platform/child.h"
#include "platform/fs.h"
#include "tef_fixture.h"

namespace {

namespace fs = std::filesystem;
using sitefsim::Transaction;

enum class Decision { Confirm, Undo, None };

constexpr int kRecoveries = 3;
// The wall clock when a sale begins.
constexpr plat::DateTime kSaleTime{2024, 3, 7, 9, 5, 4, 0};

struct Case {
  const char* name;
  const char* ops;  // the sale's operation list
  double v1, v2, v3;
  Decision decision;
  const char* sale;                   // the manager during the sale and its decision
  const char* recovery[kRecoveries];  // the manager during each recovery
  bool cutTwoRecoveries;              // also cut the first and the second recovery both
};

// Totals over every case run in this process, printed at the end.
int gCutPoints = 0, gStartStates = 0;

// Every stride-th cut point (TEFSYNC_SWEEP_STRIDE, default 1: all of them). The sanitizer run
// takes every few points: each cut is a child process, many times slower there.
int sweepStride() {
  const char* v = std::getenv("TEFSYNC_SWEEP_STRIDE");
  const int n = v ? std::atoi(v) : 1;
  return n > 1 ? n : 1;
}

// A cut run is stopped dead in a forked copy of this process where fork exists; elsewhere
// (Windows), or with TEFSYNC_SWEEP_CHILD=rerun, this test program is started again as the
// child and told by TEFSYNC_SWEEP_CUT which phase to cut where, on which folders.
constexpr const char* kCutVar = "TEFSYNC_SWEEP_CUT";

struct ChildCut {
  int phase = 0, cut = 0;
  fs::path root;  // the parent's test folder
};

// The cut this process is to make as a child, when it is one.
std::optional<ChildCut> childCut() {
  const char* v = std::getenv(kCutVar);
  if (!v || !*v) return std::nullopt;
  std::istringstream in(v);
  ChildCut c;
  if (!(in >> c.phase >> c.cut) || in.get() != ' ') return std::nullopt;
  std::string root;
  std::getline(in, root);
  c.root = root;
  return c;
}

// A child's output would only repeat the test program's banner thousands of times.
#ifdef _WIN32
constexpr const char* kNullDevice = "NUL";
#else
constexpr const char* kNullDevice = "/dev/null";
#endif
[[maybe_unused]] const bool kQuietChild =
    childCut() && std::freopen(kNullDevice, "w", stdout) != nullptr;

bool rerunWanted() {
  const char* v = std::getenv("TEFSYNC_SWEEP_CHILD");
  return v && std::string(v) == "rerun";
}

// Memory-backed where possible: the sweep makes thousands of flushed writes. Under Wine
// TEFSYNC_SWEEP_TMP names such a folder (a Z: path); else /dev/shm when there is one.
fs::path sweepBase() {
  if (const char* t = std::getenv("TEFSYNC_SWEEP_TMP"); t && *t) return t;
#ifdef _WIN32
  return {};  // the test folder of every Windows test (TEFSYNC_TEST_TMP)
#else
  std::error_code ec;
  return fs::is_directory("/dev/shm", ec) ? fs::path("/dev/shm") : fs::path();
#endif
}

class CrashSweep : public TefTest, public ::testing::WithParamInterface<Case> {
 protected:
  CrashSweep() : TefTest(sweepRoot()), c(GetParam()) {}

  static Root sweepRoot() {
    if (const auto cut = childCut()) return {cut->root};
    return {freshRoot(sweepBase())};
  }

  const std::optional<ChildCut> child_ = childCut();
  const Case c;

  std::string owedPath() const { return journalPath() + ".owed"; }
  fs::path savedRoot() const { return fs::path(drive()).parent_path() / "saved"; }

  void fresh() {
    engine.reset();
    sim.reset();
    for (const char* d : {"Client", "drivezkt"}) fs::remove_all(at(d));
    fs::remove(journalPath());
    fs::remove(owedPath());
    fs::create_directories(at("Client/REQ"));
    fs::create_directories(at("Client/RESP"));
    fs::create_directories(at("drivezkt"));
    clock.set(kSaleTime);
    newEngine();
  }

  // The drive, the journal and what the manager owes, kept aside as state n.
  void save(int n) {
    const fs::path to = savedRoot() / std::to_string(n);
    fs::remove_all(to);
    fs::create_directories(to);
    fs::copy(drive(), to / "drive_c", fs::copy_options::recursive);
    fs::copy_file(journalPath(), to / "journal");
    if (fs::exists(owedPath())) fs::copy_file(owedPath(), to / "owed");
  }
  void restore(int n) {
    engine.reset();
    sim.reset();
    const fs::path from = savedRoot() / std::to_string(n);
    fs::remove_all(drive());
    fs::copy(from / "drive_c", drive(), fs::copy_options::recursive);
    // Removed first: replacing a file by copy_file fails with mingw's library.
    fs::remove(journalPath());
    fs::copy_file(from / "journal", journalPath());
    fs::remove(owedPath());
    if (fs::exists(from / "owed")) fs::copy_file(from / "owed", owedPath());
  }

  // Counts the engine's changes to the disk; the cut-th one is never made (0: no cut).
  // marker[n] tells whether the pending-sale marker was there before change n.
  void count(int* n, int cut, std::vector<bool>* marker = nullptr) {
    plat::setFsOpHook([this, n, cut, marker] {
      if (sim && sim->acting()) return;  // the manager is another program
      ++*n;
      if (marker) marker->push_back(fs::exists(at("Client/BKPINTPOS/TesteCupom.zkt")));
      if (*n == cut) plat::exitNow(99);
    });
  }

  // Phase 0 is the sale and its decision, phase r the r-th recovery. atDecision gets the
  // number of changes the sale made before its decision.
  void phase(int p, int* atDecision = nullptr, const int* n = nullptr) {
    deadlineMs = clock.monotonicMs() + 4 * 3600 * 1000;  // every wait here ends long before
    if (p == 0) {
      startManager(std::string(c.sale));
      const int r = engine->RealizaTransacaoCRT("321", c.ops, "EXTERNO", c.v1, c.v2, c.v3);
      if (atDecision) *atDecision = *n;
      if (r == 0 && c.decision == Decision::Confirm) engine->ConfirmaTransacao();
      if (r == 0 && c.decision == Decision::Undo) engine->NaoConfirmaTransacao();
    } else {
      clock.set({2024, 3, 7, 10 + p, 0, 0, 0});
      const char* script = c.recovery[p - 1];
      startManager(std::string(script ? script : ""));
      sim->deliverOwed();
      sim->step();  // whatever request was placed is taken
      newEngine();
      // As the payment cycle does: the recovery runs once the manager answered its check.
      if (engine->VerificaGerenciadorPadrao() == 0) engine->Verifica_Transacao_Pendente();
    }
    deadlineMs = -1;
  }

  // Runs phases from..kRecoveries whole; a phase that throws is a failure.
  std::string finish(int from) {
    plat::setFsOpHook(nullptr);
    for (int p = from; p <= kRecoveries; ++p) {
      try {
        phase(p);
      } catch (const Deadline&) {
        return " phase " + std::to_string(p) + " never ended";
      } catch (const std::exception& e) {
        return " phase " + std::to_string(p) + " threw: " + e.what();
      }
    }
    return {};
  }

  // Phase p cut at change k in a child; the manager is told of the cut. False when the child
  // did not stop there (status 0: the phase has fewer changes).
  int cutPhase(int p, int k) {
    int status = rerun_ ? -1 : plat::runInChild([&] { cutHere(p, k); });
    if (status == -1) {
      rerun_ = true;
      // The child makes its own engine: this one must hold nothing open meanwhile.
      engine.reset();
      const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
      const std::string cut = std::to_string(p) + " " + std::to_string(k) + " " +
                              fs::path(drive()).parent_path().string();
      status = plat::runSelf(
          {"--gtest_filter=" + std::string(test->test_suite_name()) + "." + test->name()},
          {{kCutVar, cut}});
    }
    plat::setFsOpHook(nullptr);
    sitefsim::journalCut(journalPath());
    return status;
  }

  // The child's part: phase p, stopped dead before change k (status 99); 0 when the phase
  // ended first, 70 when it threw.
  void cutHere(int p, int k) {
    int n = 0;
    count(&n, k);
    phase(p);
  }
  [[noreturn]] void runAsChild() {
    if (child_->phase == 0) clock.set(kSaleTime);  // as fresh() left it
    int code = 0;
    try {
      cutHere(child_->phase, child_->cut);
    } catch (...) {
      code = 70;
    }
    plat::exitNow(code);  // the parent's folders are never cleaned up from here
  }

  bool rerun_ = rerunWanted();

  std::string check(bool confirmationBegan) const;
  std::string leftovers() const;
};

std::string CrashSweep::leftovers() const {
  std::string bad;
  const auto allowed = [](const std::string& rel) {
    return rel == "Client/BKPINTPOS/Finalizadas.zkt" ||
           rel == "drivezkt/tmp/tef_Sitef/INTPOS.TXT" || rel == "Client/RESP/INTPOS.STS";
  };
  for (const char* top : {"Client", "drivezkt"})
    for (const auto& e : fs::recursive_directory_iterator(at(top))) {
      if (e.is_directory()) continue;
      const std::string rel = fs::relative(e.path(), drive()).generic_string();
      if (!allowed(rel)) bad += " left " + rel;
    }
  return bad;
}

// Failures after the last recovery, empty when every rule holds.
std::string CrashSweep::check(bool confirmationBegan) const {
  std::string bad;
  const auto j = journal();
  const bool confirm = c.decision == Decision::Confirm && confirmationBegan;
  for (const auto& t : j.transactions) {
    const std::string who = " transaction " + t.nsu + " (" + t.op + " " + t.id + ")";
    bad += sitefsim::endFaults(t, confirm);
    for (size_t i = 1; i < t.finishes.size(); ++i) {
      const size_t a = t.finishes[i - 1], b = t.finishes[i];
      // The first went right before a cut, or was still in REQ\ then (the manager takes what
      // is left there before the engine starts again).
      const bool atACut =
          (a + 1 < j.requests.size() && j.requests[a + 1].cutsBefore > j.requests[a].cutsBefore) ||
          (a > 0 && j.requests[a].cutsBefore > j.requests[a - 1].cutsBefore);
      if (!atACut || j.requests[a].raw != j.requests[b].raw) bad += who + " finished twice";
    }
  }
  for (const auto& o : j.orphanFinishes) bad += " finish of no transaction: " + o;
  return bad + leftovers();
}

const Case kCases[] = {
    // The sales.
    {"OnePaymentConfirm", "CRT;", 10, 0, 0, Decision::Confirm, "", {}, false},
    {"OnePaymentUndo", "CRT;", 10, 0, 0, Decision::Undo, "", {}, false},
    {"OnePaymentNoDecision", "CRT;", 10, 0, 0, Decision::None, "", {}, false},
    {"TwoPaymentsConfirm", "CRT;CRT;", 10, 20, 0, Decision::Confirm, "", {}, false},
    {"TwoPaymentsUndo", "CRT;CRT;", 10, 20, 0, Decision::Undo, "", {}, false},
    {"TwoPaymentsNoDecision", "CRT;CRT;", 10, 20, 0, Decision::None, "", {}, false},
    {"ThreePaymentsConfirm", "CRT;CRT;CRT;", 10, 20, 30, Decision::Confirm, "", {}, false},
    {"ThreePaymentsUndo", "CRT;CRT;CRT;", 10, 20, 30, Decision::Undo, "", {}, false},
    {"ThreePaymentsNoDecision", "CRT;CRT;CRT;", 10, 20, 30, Decision::None, "", {}, false},
    {"TwoPaymentsSecondDeclined",
     "CRT;CRT;",
     10,
     20,
     0,
     Decision::None,
     "CRT approve\nCRT decline\n",
     {},
     false},
    {"ThreePaymentsThirdDeclined",
     "CRT;CRT;CRT;",
     10,
     20,
     30,
     Decision::None,
     "CRT approve times=2\nCRT decline\n",
     {},
     false},
    {"ThirdAmountWithoutSecondConfirm", "CRT;CRT;", 10, 0, 30, Decision::Confirm, "", {}, false},
    {"ThirdAmountWithoutSecondNoDecision", "CRT;CRT;", 10, 0, 30, Decision::None, "", {}, false},
    {"NoReceiptLinesConfirm",
     "CRT;",
     10,
     0,
     0,
     Decision::Confirm,
     "CRT approve receipt=0\n",
     {},
     false},
    {"NoReceiptLinesUndo", "CRT;", 10, 0, 0, Decision::Undo, "CRT approve receipt=0\n", {}, false},
    {"Adm", "ADM;", 0, 0, 0, Decision::None, "", {}, false},
    // The manager fails during the sale or its decision.
    {"ConfirmationUnacknowledged", "CRT;", 10, 0, 0, Decision::Confirm, "CNF noack\n", {}, true},
    {"UndoUnacknowledged", "CRT;", 10, 0, 0, Decision::Undo, "NCN noack\n", {}, true},
    {"TwoPaymentsFirstConfirmationUnacknowledged",
     "CRT;CRT;",
     10,
     20,
     0,
     Decision::Confirm,
     "CNF noack\n",
     {},
     false},
    {"TwoPaymentsSecondConfirmationUnacknowledged",
     "CRT;CRT;",
     10,
     20,
     0,
     Decision::Confirm,
     "CNF approve\nCNF noack\n",
     {},
     false},
    {"TwoPaymentsUndoUnacknowledged",
     "CRT;CRT;",
     10,
     20,
     0,
     Decision::Undo,
     "NCN noack\n",
     {},
     false},
    {"SecondDeclinedFirstUndoUnacknowledged",
     "CRT;CRT;",
     10,
     20,
     0,
     Decision::None,
     "CRT approve\nCRT decline\nNCN noack\n",
     {},
     false},
    {"FirstRequestUnacknowledged", "CRT;CRT;", 10, 20, 0, Decision::None, "CRT noack\n", {}, false},
    {"SecondRequestUnacknowledged",
     "CRT;CRT;",
     10,
     20,
     0,
     Decision::None,
     "CRT approve\nCRT noack\n",
     {},
     false},
    {"ManagerSilentDuringConfirmation",
     "CRT;CRT;",
     10,
     20,
     0,
     Decision::Confirm,
     "ATV noack times=2\n",
     {},
     false},
    {"LateApproval", "CRT;", 10, 0, 0, Decision::None, "CRT late\n", {}, false},
    {"SecondPaymentLateApproval",
     "CRT;CRT;",
     10,
     20,
     0,
     Decision::None,
     "CRT approve\nCRT late\n",
     {},
     false},
    // The manager fails during the recoveries.
    {"RecoveryUndoUnacknowledged", "CRT;", 10, 0, 0, Decision::None, "", {"NCN noack\n"}, true},
    {"RecoveryUndoUnacknowledgedTwice",
     "CRT;CRT;",
     10,
     20,
     0,
     Decision::None,
     "",
     {"NCN noack\n", "NCN noack\n"},
     false},
    {"TwoPaymentsRecoveryConfirmationUnacknowledged",
     "CRT;CRT;",
     10,
     20,
     0,
     Decision::Confirm,
     "",
     {"CNF noack\n"},
     false},
    {"ThreePaymentsRecoveryConfirmationUnacknowledged",
     "CRT;CRT;CRT;",
     10,
     20,
     30,
     Decision::Confirm,
     "",
     {"CNF approve\nCNF noack\n"},
     false},
    {"ManagerSilentInRecovery",
     "CRT;",
     10,
     0,
     0,
     Decision::None,
     "",
     {"ATV approve\nATV noack times=2\n"},
     false},
};

void PrintTo(const Case& c, std::ostream* os) {
  *os << c.name;
}

TEST_P(CrashSweep, EveryCutEndsFinishedAsDecided) {
  if (child_) runAsChild();
  // The whole run, counted: changes of each phase, and where the decision and the marker's
  // removal fall in the sale.
  fresh();
  int total[kRecoveries + 1] = {}, atDecision = 0;
  std::vector<bool> marker;
  for (int p = 0; p <= kRecoveries; ++p) {
    count(&total[p], -1, p == 0 ? &marker : nullptr);
    phase(p, p == 0 ? &atDecision : nullptr, &total[0]);
    plat::setFsOpHook(nullptr);
    if (p == 0) marker.push_back(fs::exists(at("Client/BKPINTPOS/TesteCupom.zkt")));
    if (p < kRecoveries) save(p);
  }
  // The confirmation began with the first change after which the marker was gone.
  int began = total[0] + 2;
  if (c.decision == Decision::Confirm)
    for (int n = atDecision + 1; n <= total[0]; ++n)
      if (marker[n - 1] && !marker[n]) {
        began = n + 1;
        break;
      }
  const bool confirmedWhole = began <= total[0] + 1;
  EXPECT_EQ(check(confirmedWhole), "") << "without a cut";

  int points = 0, states = 0;
  const auto point = [&](const std::string& where, bool confirmationBegan, const std::string& ran) {
    ++points;
    EXPECT_EQ(ran + check(confirmationBegan), "") << where;
  };
  // The sale cut at every change.
  const int stride = sweepStride();
  ++states;
  for (int k = 1; k <= total[0]; k += stride) {
    fresh();
    ASSERT_EQ(cutPhase(0, k), 99) << "sale: change " << k << " not reached";
    point("sale cut before change " + std::to_string(k) + " of " + std::to_string(total[0]),
          k >= began, finish(1));
  }
  // Each of the first two recoveries cut at every change, from where the whole run left it.
  for (int r = 1; r < kRecoveries; ++r) {
    ++states;
    for (int k = 1; k <= total[r]; k += stride) {
      restore(r - 1);
      ASSERT_EQ(cutPhase(r, k), 99) << "recovery " << r << ": change " << k << " not reached";
      point("recovery " + std::to_string(r) + " cut before change " + std::to_string(k) + " of " +
                std::to_string(total[r]),
            confirmedWhole, finish(r + 1));
    }
  }
  // The first recovery cut, and then the second one cut too, at every pair of changes.
  if (c.cutTwoRecoveries) {
    for (int k1 = 1; k1 <= total[1]; k1 += stride) {
      restore(0);
      ASSERT_EQ(cutPhase(1, k1), 99);
      save(kRecoveries);
      ++states;
      for (int k2 = 1;; k2 += stride) {
        restore(kRecoveries);
        const int status = cutPhase(2, k2);
        if (status == 0) break;  // the second recovery ended before change k2
        ASSERT_EQ(status, 99);
        point("recovery 1 cut before change " + std::to_string(k1) + ", recovery 2 before " +
                  std::to_string(k2),
              confirmedWhole, finish(3));
      }
    }
  }
  gCutPoints += points;
  gStartStates += states;
  std::cout << "[ crash sweep ] " << c.name << ": " << points << " cut points from " << states
            << " start states" << (stride > 1 ? " (every " + std::to_string(stride) + "th)" : "")
            << std::endl;
  RecordProperty("cut_points", points);
  RecordProperty("start_states", states);
}

INSTANTIATE_TEST_SUITE_P(Cases, CrashSweep, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

class SweepTotals : public ::testing::Environment {
 public:
  void TearDown() override {
    if (gCutPoints > 0)
      std::cout << "[ crash sweep ] in all: " << gCutPoints << " cut points from " << gStartStates
                << " start states" << std::endl;
  }
};
[[maybe_unused]] const auto* const kTotals = ::testing::AddGlobalTestEnvironment(new SweepTotals);

}  // namespace

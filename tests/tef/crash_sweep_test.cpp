// Stops a sale and its decision dead at every file-system change in turn, as a power cut
// would, then lets the manager take whatever request was placed and runs the recovery in a
// fresh engine over the same folders and the same manager journal.
#include <iostream>

#include "platform/child.h"
#include "platform/fs.h"
#include "tef_fixture.h"

namespace {

using sitefsim::Transaction;

enum class Decision { Confirm, Undo, None, DeclineLast };

struct Scenario {
  int payments;
  Decision decision;
  const char* name;
};

// Memory-backed when there is such a folder: the sweep makes thousands of flushed writes.
std::filesystem::path sweepBase() {
  std::error_code ec;
  return std::filesystem::is_directory("/dev/shm", ec) ? std::filesystem::path("/dev/shm")
                                                       : std::filesystem::path();
}

class CrashSweep : public TefTest {
 protected:
  CrashSweep() : TefTest(sweepBase()) {}

  void fresh() {
    engine.reset();
    sim.reset();
    for (const char* d : {"Client", "drivezkt"}) std::filesystem::remove_all(at(d));
    std::filesystem::remove(journalPath());
    std::filesystem::create_directories(at("Client/REQ"));
    std::filesystem::create_directories(at("Client/RESP"));
    std::filesystem::create_directories(at("drivezkt"));
    clock.set({2024, 3, 7, 9, 5, 4, 0});
    newEngine();
    const int n = scenario.payments;
    std::string script;
    if (scenario.decision == Decision::DeclineLast) {
      for (int i = 1; i < n; ++i) script += "CRT approve\n";
      script += "CRT decline\n";
    }
    startManager(script);
  }

  // The sale and the decision; opsAtDecision gets the number of changes made before it.
  void run(int* opsAtDecision, const int* count) {
    const double v2 = scenario.payments > 1 ? 20 : 0, v3 = scenario.payments > 2 ? 30 : 0;
    const int r = engine->RealizaTransacaoCRT("321", "CRT;CRT;CRT;", "EXTERNO", 10, v2, v3);
    if (opsAtDecision) *opsAtDecision = *count;
    if (r != 0) return;
    if (scenario.decision == Decision::Confirm) engine->ConfirmaTransacao();
    if (scenario.decision == Decision::Undo) engine->NaoConfirmaTransacao();
  }

  void installCounter(int* count, int stopAt) {
    plat::setFsOpHook([this, count, stopAt] {
      if (sim && sim->acting()) return;  // the manager is another program
      if (++*count == stopAt) plat::exitNow(99);
    });
  }

  // Failures of one crash point, empty when every invariant holds.
  std::string check(bool confirmationBegan) {
    std::string bad;
    const auto j = journal();
    const Transaction::State want = scenario.decision == Decision::Confirm && confirmationBegan
                                        ? Transaction::State::Confirmed
                                        : Transaction::State::Undone;
    for (const auto& t : j.transactions)
      if (t.needsFinish && t.state() != want)
        bad += " transaction " + t.nsu + " state " + std::to_string(static_cast<int>(t.state()));
    if (!j.orphanFinishes.empty()) bad += " finish of an unknown transaction";
    for (const char* f : {"Client/RESP/INTPOS.001", "Client/BKPINTPOS/INTPOS.001",
                          "Client/BKPINTPOS/INTPOS.BKP", "Client/BKPINTPOS/Multi/INTPOS.001",
                          "Client/BKPINTPOS/Multi/INTPOS.002", "Client/BKPINTPOS/Multi/INTPOS.003"})
      if (has(f)) bad += std::string(" left ") + f;
    return bad;
  }

  // Changes of an uncut run, and how many of them come before the decision.
  std::pair<int, int> reference() {
    fresh();
    int total = 0, atDecision = 0;
    installCounter(&total, -1);
    run(&atDecision, &total);
    plat::setFsOpHook(nullptr);
    return {total, atDecision};
  }
  int recover(int stopAt, int* count);
  bool cutSale(int k, int total);

  Scenario scenario{};
};

// A recovery run that may itself be cut at its stopAt-th change (-1: never).
int CrashSweep::recover(int stopAt, int* count) {
  clock.set({2024, 3, 7, 11, 0, 0, 0});
  startManager();
  sim->step();  // whatever request was placed is taken
  newEngine();
  if (count) installCounter(count, stopAt);
  const int r =
      engine->VerificaGerenciadorPadrao() == 0 ? engine->Verifica_Transacao_Pendente() : -1;
  plat::setFsOpHook(nullptr);
  return r;
}

// Sale and decision cut before change k (k past the end: not cut); false when the child
// did not stop where it should.
bool CrashSweep::cutSale(int k, int total) {
  fresh();
  const int status = plat::runInChild([&] {
    int count = 0;
    installCounter(&count, k);
    run(nullptr, &count);
  });
  return status == (k <= total ? 99 : 0);
}

const Scenario kScenarios[] = {
    {1, Decision::Confirm, "OnePaymentConfirm"},
    {1, Decision::Undo, "OnePaymentUndo"},
    {1, Decision::None, "OnePaymentNoDecision"},
    {2, Decision::Confirm, "TwoPaymentsConfirm"},
    {2, Decision::Undo, "TwoPaymentsUndo"},
    {2, Decision::None, "TwoPaymentsNoDecision"},
    {3, Decision::Confirm, "ThreePaymentsConfirm"},
    {3, Decision::Undo, "ThreePaymentsUndo"},
    {3, Decision::None, "ThreePaymentsNoDecision"},
    {2, Decision::DeclineLast, "TwoPaymentsSecondDeclined"},
    {3, Decision::DeclineLast, "ThreePaymentsThirdDeclined"},
};

void PrintTo(const Scenario& s, std::ostream* os) {
  *os << s.name;
}

class CrashSweepOf : public CrashSweep, public ::testing::WithParamInterface<Scenario> {};
class RecoveryCrashSweepOf : public CrashSweepOf {};

TEST_P(CrashSweepOf, EveryCrashPointEndsFinishedAsDecided) {
  scenario = GetParam();
  const auto [total, atDecision] = reference();
  int covered = 0;
  // The last point is the run that ends without a cut.
  for (int k = 1; k <= total + 1; ++k) {
    ASSERT_TRUE(cutSale(k, total)) << "crash point " << k << " not reached";
    const bool began = k > atDecision + 1;  // the marker's removal is the first change
    EXPECT_EQ(recover(-1, nullptr), 0) << "k=" << k;
    EXPECT_EQ(check(began), "") << "crash before change " << k << " of " << total;
    ++covered;
  }
  std::cout << "[ crash sweep ] " << scenario.name << ": " << covered << " crash points covered"
            << std::endl;
  RecordProperty("crash_points", covered);
}

// The recovery itself cut at every change, then run again: where the sale was left
// without a decision, or right after its confirmation or undo began.
TEST_P(RecoveryCrashSweepOf, RecoveryCutAtEveryChangeIsFinishedByTheNext) {
  scenario = GetParam();
  const auto [total, atDecision] = reference();
  const int k1 = scenario.decision == Decision::None ? total + 1 : atDecision + 2;
  const bool began = scenario.decision == Decision::Confirm;
  ASSERT_TRUE(cutSale(k1, total));
  // The state the sale left is kept aside and put back before every cut of the recovery.
  const std::filesystem::path saved = std::filesystem::path(drive()).parent_path() / "saved";
  std::filesystem::create_directories(saved);
  std::filesystem::copy(drive(), saved / "drive_c", std::filesystem::copy_options::recursive);
  std::filesystem::copy_file(journalPath(), saved / "journal");
  const auto restore = [&] {
    engine.reset();
    sim.reset();
    std::filesystem::remove_all(drive());
    std::filesystem::copy(saved / "drive_c", drive(), std::filesystem::copy_options::recursive);
    std::filesystem::copy_file(saved / "journal", journalPath(),
                               std::filesystem::copy_options::overwrite_existing);
  };
  int recoveryTotal = 0;
  recover(-1, &recoveryTotal);
  int covered = 0;
  for (int k2 = 1; k2 <= recoveryTotal; ++k2) {
    restore();
    const int status = plat::runInChild([&] {
      int count = 0;
      recover(k2, &count);
    });
    ASSERT_EQ(status, 99) << "recovery crash point " << k2 << " not reached";
    EXPECT_EQ(recover(-1, nullptr), 0) << "k2=" << k2;
    EXPECT_EQ(check(began), "") << "recovery cut before change " << k2 << " of " << recoveryTotal;
    ++covered;
  }
  std::cout << "[ crash sweep ] " << scenario.name << ", recovery: " << covered
            << " crash points covered" << std::endl;
  RecordProperty("crash_points", covered);
}

INSTANTIATE_TEST_SUITE_P(Sales, CrashSweepOf, ::testing::ValuesIn(kScenarios),
                         [](const auto& info) { return std::string(info.param.name); });
// A declined sale leaves nothing for the recovery.
INSTANTIATE_TEST_SUITE_P(Sales, RecoveryCrashSweepOf,
                         ::testing::ValuesIn(kScenarios, kScenarios + 9),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace

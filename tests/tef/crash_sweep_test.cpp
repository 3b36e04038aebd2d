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

  Scenario scenario{};
};

TEST_F(CrashSweep, EveryCrashPointEndsFinishedAsDecided) {
  const Scenario scenarios[] = {
      {1, Decision::Confirm, "1 payment, confirm"},
      {1, Decision::Undo, "1 payment, undo"},
      {1, Decision::None, "1 payment, no decision"},
      {2, Decision::Confirm, "2 payments, confirm"},
      {2, Decision::Undo, "2 payments, undo"},
      {2, Decision::None, "2 payments, no decision"},
      {3, Decision::Confirm, "3 payments, confirm"},
      {3, Decision::Undo, "3 payments, undo"},
      {3, Decision::None, "3 payments, no decision"},
      {2, Decision::DeclineLast, "2 payments, second declined"},
      {3, Decision::DeclineLast, "3 payments, third declined"},
  };
  int covered = 0;
  for (const auto& s : scenarios) {
    scenario = s;
    // A run without a cut tells how many changes there are and where the decision starts.
    fresh();
    int total = 0, atDecision = 0;
    installCounter(&total, -1);
    run(&atDecision, &total);
    plat::setFsOpHook(nullptr);
    ASSERT_GE(total, atDecision) << s.name;

    // The last point is the run that ends without a cut.
    for (int k = 1; k <= total + 1; ++k) {
      fresh();
      const int status = plat::runInChild([&] {
        int count = 0;
        installCounter(&count, k);
        run(nullptr, &count);
      });
      ASSERT_EQ(status, k <= total ? 99 : 0) << s.name << ": crash point " << k;

      // Later, the manager takes whatever was placed and a new run recovers.
      const bool began = k > atDecision + 1;  // the marker's removal is the first change
      clock.set({2024, 3, 7, 11, 0, 0, 0});
      startManager();
      sim->step();
      newEngine();
      ASSERT_EQ(engine->VerificaGerenciadorPadrao(), 0);
      EXPECT_EQ(engine->Verifica_Transacao_Pendente(), 0) << s.name << " k=" << k;
      const std::string bad = check(began);
      EXPECT_EQ(bad, "") << s.name << ": crash before change " << k << " of " << total;
      ++covered;
    }
  }
  std::cout << "[ crash sweep ] " << covered << " crash points covered" << std::endl;
  RecordProperty("crash_points", covered);
}

}  // namespace

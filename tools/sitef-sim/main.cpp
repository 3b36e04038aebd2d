// sitef-sim: runs the manager stand-in over a drive-C folder until SIGTERM or SIGINT.
#include <iostream>

#include "platform/clock.h"
#include "platform/fs.h"
#include "platform/signals.h"
#include "tools/sitef-sim/sitef_sim.h"

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--report") {
    // Each approved transaction as the journal tells it; exit 1 when one is pending,
    // finished twice or both ways, or a finish names no transaction.
    try {
      const auto view = sitefsim::readJournal(argv[2]);
      std::cout << sitefsim::report(view);
      bool bad = !view.orphanFinishes.empty();
      for (const auto& t : view.transactions)
        bad = bad || t.finishedTwice() || t.state() == sitefsim::Transaction::State::Pending;
      return bad ? 1 : 0;
    } catch (const std::exception& e) {
      std::cerr << "sitef-sim: " << e.what() << "\n";
      return 2;
    }
  }
  if (argc < 3 || argc > 4) {
    std::cerr << "usage: sitef-sim <drive-C folder> <behaviour script> [journal file]\n"
              << "       sitef-sim --report <journal file>\n"
              << "The journal defaults to <drive-C folder>/sitef-sim.journal.\n\n"
              << sitefsim::scriptHelp();
    return 2;
  }
  const std::string driveC = argv[1];
  const std::string journal = argc == 4 ? argv[3] : driveC + "/sitef-sim.journal";
  if (!plat::dirExists(driveC)) {
    std::cerr << "sitef-sim: drive-C folder \"" << driveC << "\" does not exist\n";
    return 2;
  }
  std::vector<sitefsim::Rule> rules;
  try {
    rules = sitefsim::parseScript(plat::readBytes(argv[2]));
  } catch (const std::exception& e) {
    std::cerr << "sitef-sim: script \"" << argv[2] << "\": " << e.what() << "\n";
    return 2;
  }
  plat::installStopSignals();
  try {
    sitefsim::Simulator sim(driveC, std::move(rules), journal);
    std::cout << "sitef-sim: watching " << sim.reqDir() << std::endl;
    while (!plat::stopRequested()) {
      sim.step();
      plat::clock().sleepMs(100);
    }
  } catch (const std::exception& e) {
    std::cerr << "sitef-sim: " << e.what() << "\n";
    return 1;
  }
  return 0;
}

// Pending recovery over whatever a crash may have left in the backup folder: torn, mixed or
// foreign backup files, late approvals and records of finished transactions. Against a manager
// stand-in that answers everything, recovery ends (within an hour of virtual time) with a TefError
// or FileError at worst, never a crash. Input: two bytes of which files exist, then their contents.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "fiscal/TfrmTEFSelect.h"
#include "fuzz_support.h"
#include "platform/clock.h"
#include "platform/fs.h"
#include "tef/TfrmTEFSitef.h"
#include "tef/TfrmTefSitef_XE.h"
#include "tools/sitef-sim/sitef_sim.h"

namespace {

struct TooLong {};

constexpr int64_t kLimitMs = 3600 * 1000;

struct World {
  std::string drive;
  plat::VirtualClock clock;
  plat::ScopedClock scoped{clock};
  fiscal::TfrmTEFSelect select;
  tef::TfrmTefSitef_XE xe;
  std::unique_ptr<tef::TfrmTEFSitef> sitef;
  std::unique_ptr<sitefsim::Simulator> sim;
  int64_t deadlineMs = -1;
};

World* world = nullptr;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  const std::string drive = fuzzsupport::makeDriveC("recovery");
  world = new World;
  world->drive = drive;
  world->select.temTefSitef = true;
  world->sitef = std::make_unique<tef::TfrmTEFSitef>(world->xe, world->select);
  world->clock.addSleepHook([](int64_t) {
    if (world->sim) world->sim->step();
    if (world->deadlineMs >= 0 && world->clock.monotonicMs() > world->deadlineMs) {
      world->deadlineMs = -1;
      throw TooLong{};
    }
  });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  namespace fs = std::filesystem;
  FuzzedDataProvider in(data, size);
  tef::TfrmTEFSitef& s = *world->sitef;
  // A fresh manager and a fresh exchange and backup folder for every input.
  std::error_code ec;
  for (const char* dir : {"Client/REQ", "Client/RESP", "Client/BKPINTPOS"})
    fs::remove_all(fs::path(world->drive) / dir, ec);
  for (const char* dir : {"Client/REQ", "Client/RESP", "Client/BKPINTPOS/Multi"})
    fs::create_directories(fs::path(world->drive) / dir, ec);
  fs::remove(fs::path(world->drive) / "journal", ec);
  world->sim = std::make_unique<sitefsim::Simulator>(world->drive, std::vector<sitefsim::Rule>{},
                                                     world->drive + "/journal");

  const uint16_t present = in.ConsumeIntegral<uint16_t>();
  const std::string files[] = {s.ArqBkp(),      s.ArqBackup(),         s.ArqMarcador(),
                               s.ArqMulti("1"), s.ArqMulti("2"),       s.ArqMulti("3"),
                               s.ArqResposta(), s.pasta().Atrasada(1), s.pasta().Registro()};
  for (size_t i = 0; i < std::size(files); ++i) {
    if (!(present & (1u << i))) continue;
    plat::writeBytes(files[i], in.ConsumeRandomLengthString(2048));
  }

  world->deadlineMs = world->clock.monotonicMs() + kLimitMs;
  try {
    const int r = s.Verifica_Transacao_Pendente();
    FUZZ_CHECK(r == 0 || r == 1, "recovery gave " + std::to_string(r));
  } catch (const tef::TefError&) {
  } catch (const plat::FileError&) {
  } catch (const TooLong&) {
    fuzzsupport::finding("recovery did not end within an hour against a manager that answers");
  }
  world->deadlineMs = -1;
  world->sim.reset();
  return 0;
}

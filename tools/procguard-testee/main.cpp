// Stand-in for the synchronizer in the guardian's tests. The guardian starts it with no
// arguments, so it takes its behaviour from "testee-mode.txt" beside its executable,
// read again every second so a test can change it while it runs:
//   answer (also when the file is missing)  answers the heartbeat as the synchronizer does
//   silent                                  keeps running and never answers
//   hang                                    stops reading anything and ignores SIGTERM/SIGINT
//   stop                                    stops itself (SIGSTOP), as a debugger would
//   exit                                    ends at once
//   endsame                                 once, ends every other process of its own file
//                                           name as the guardian ends the synchronizer,
//                                           writes 1 (some ended) or 0 to
//                                           "testee-ended.txt", then answers
// Every start appends "start <file name>" to "testee-starts.txt" beside it and writes its
// working folder to "testee-folder.txt".
#include <csignal>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>

#include "platform/clock.h"
#include "platform/fs.h"
#include "platform/host.h"
#include "platform/process.h"

namespace {

std::string folderOf(const std::string& path) {
  const auto slash = path.rfind(plat::separator());
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string readMode(const std::string& file) {
  if (!plat::fileExists(file)) return "answer";
  try {
    std::string mode = plat::readText(file);
    const auto end = mode.find_first_of(" \r\n\t");
    if (end != std::string::npos) mode.resize(end);
    return mode.empty() ? "answer" : mode;
  } catch (const plat::FileError&) {
    return "answer";
  }
}

}  // namespace

int main() {
  try {
    const std::string self = plat::executablePath();
    const std::string dir = folderOf(self);
    const std::string name = self.substr(dir.size());
    const std::string ping = dir + "ping" + plat::separator();
    const std::string modeFile = dir + "testee-mode.txt";
    const std::string startsFile = dir + "testee-starts.txt";

    // Appending (one write per start) keeps the lines of copies started together.
    std::ofstream(startsFile, std::ios::app) << "start " + name + "\n" << std::flush;
    std::ofstream(dir + "testee-folder.txt", std::ios::binary)
        << std::filesystem::current_path().string();

    bool endedOthers = false;
    for (;;) {
      std::string mode = readMode(modeFile);
      if (mode == "exit") return 0;
      if (mode == "endsame") {
        if (!endedOthers)
          plat::writeText(dir + "testee-ended.txt", plat::killProcesses(name) ? "1" : "0");
        endedOthers = true;
        mode = "answer";
      }
      if (mode == "hang") {
        std::signal(SIGTERM, SIG_IGN);
        std::signal(SIGINT, SIG_IGN);
        for (;;) plat::clock().sleepMs(60000);
      }
#ifdef SIGSTOP  // Windows has no stop signal
      if (mode == "stop") std::raise(SIGSTOP);
#endif
      if (mode == "answer" && plat::fileExists(ping + "test-ping.txt")) {
        plat::deleteFile(ping + "test-ping.txt");
        plat::writeText(ping + "resp-ping.txt", "");
      }
      plat::clock().sleepMs(1000);
    }
  } catch (const std::exception& e) {
    std::cerr << "procguard-testee: " << e.what() << "\n";
    return 1;
  }
}

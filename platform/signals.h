// Stop requests from the terminal or the service manager, for long-running tools.
#pragma once

namespace plat {

// From now on SIGTERM and SIGINT set a flag instead of ending the process.
void installStopSignals();
// True once a stop signal arrived.
bool stopRequested();

// From now on SIGHUP asks the program to reload its settings instead of ending it.
void installReloadSignal();
// True once per SIGHUP received since the last call.
bool takeReloadRequest();

}  // namespace plat

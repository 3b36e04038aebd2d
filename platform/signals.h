// Stop requests from the terminal or the service manager, for long-running tools.
#pragma once

namespace plat {

// From now on SIGTERM and SIGINT set a flag instead of ending the process, and SIGPIPE is
// ignored: a write to a pipe whose reader went away fails instead of ending the program.
void installStopSignals();
// True once a stop signal arrived.
bool stopRequested();

// From now on SIGHUP (the terminal or session went away) is a stop signal too.
void installHangUpStop();

// From now on SIGHUP asks the program to reload its settings instead of ending it.
void installReloadSignal();
// True once per SIGHUP received since the last call.
bool takeReloadRequest();

}  // namespace plat

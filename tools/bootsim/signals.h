// Signals as bytes on a self-pipe, so that the simulator's one poll loop sees them between
// two lines of its own code rather than in the middle of one.
#pragma once

namespace bootsim {

// SIGINT, SIGTERM, SIGHUP and SIGUSR1 each write their number to the pipe; SIGPIPE and
// SIGTTIN are ignored. Throws std::system_error when the pipe cannot be made.
void InstallSignals();
// The pipe's read end (non-blocking): one byte a signal, the signal's number.
int SignalFd();

}  // namespace bootsim

#pragma once

namespace orvana::cli {

// SIGINT, SIGTERM and SIGHUP ask the command to stop at its next safe point: between two pages,
// never inside a directory rewrite. The handler only notes the signal; the terminal operator's
// event pump turns it into the store's Cancel, commands look at it between their steps, and the
// program leaves through main, so every device stack is torn down and gives control back.
void InstallStopSignals();

// The signal that asked to stop, 0 while none has.
int StopSignal();
inline bool StopRequested() {
  return StopSignal() != 0;
}

// The exit code of a run a signal stopped: 128 + the signal's number (130 for Ctrl-C).
int StopExitCode();

}  // namespace orvana::cli

#include "StopSignals.h"

#include <csignal>

namespace orvana::cli {

namespace {

volatile std::sig_atomic_t gSignal = 0;
constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

extern "C" void onStopSignal(int sig) {
  // The first signal names the stop; later ones change nothing.
  if (gSignal == 0) gSignal = sig;
}

}  // namespace

void InstallStopSignals() {
  struct sigaction sa {};
  sa.sa_handler = onStopSignal;
  sigemptyset(&sa.sa_mask);
  // Interrupted file and socket calls go on; waits on the terminal look at the flag themselves.
  sa.sa_flags = SA_RESTART;
  for (int sig : kStopSignals) ::sigaction(sig, &sa, nullptr);
}

int StopSignal() {
  return gSignal;
}

int StopExitCode() {
  return 128 + gSignal;
}

}  // namespace orvana::cli

#include "shell/TerminationSignals.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>
#include <QSocketNotifier>
#include <csignal>

namespace orvana {

namespace {

int gPipe[2] = {-1, -1};
constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

extern "C" void onTerminationSignal(int sig) {
  const unsigned char b = static_cast<unsigned char>(sig);
  // Only async-signal-safe calls here; a full pipe just drops a repeated request.
  [[maybe_unused]] const ssize_t n = ::write(gPipe[1], &b, 1);
}

}  // namespace

TerminationSignals::TerminationSignals(QObject* parent) : QObject(parent) {
  if (gPipe[0] >= 0) return;  // one per process
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, gPipe) != 0) return;
  ::fcntl(gPipe[1], F_SETFL, O_NONBLOCK);
  notifier_ = new QSocketNotifier(gPipe[0], QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, this, [this] {
    unsigned char b = 0;
    if (::read(gPipe[0], &b, 1) == 1) emit requested(b);
  });
  struct sigaction sa {};
  sa.sa_handler = onTerminationSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  for (int sig : kSignals) ::sigaction(sig, &sa, nullptr);
}

TerminationSignals::~TerminationSignals() {
  if (notifier_ == nullptr) return;
  for (int sig : kSignals) std::signal(sig, SIG_DFL);
  ::close(gPipe[0]);
  ::close(gPipe[1]);
  gPipe[0] = gPipe[1] = -1;
}

}  // namespace orvana

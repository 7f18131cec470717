#include "support/TempHome.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <thread>

namespace orvana::test {
namespace {

constexpr const char* kHostSockets = "ORVANA_HOST_SOCKETS";

int bindLoopback(int flags, unsigned short* port) {
  int fd = ::socket(AF_INET, SOCK_DGRAM | flags, 0);
  if (fd < 0) return -1;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    ::close(fd);
    return -1;
  }
  if (port) *port = ntohs(addr.sin_port);
  return fd;
}

// The descriptors listed in the variable, without `fd`, then with `add` (when >= 0).
void relist(int remove, int add) {
  std::string kept;
  if (const char* list = std::getenv(kHostSockets)) {
    std::string all = list;
    std::size_t at = 0;
    while (at <= all.size()) {
      std::size_t comma = all.find(',', at);
      if (comma == std::string::npos) comma = all.size();
      const std::string item = all.substr(at, comma - at);
      if (!item.empty() && item != std::to_string(remove)) kept += (kept.empty() ? "" : ",") + item;
      at = comma + 1;
    }
  }
  if (add >= 0) kept += (kept.empty() ? "" : ",") + std::to_string(add);
  if (kept.empty())
    ::unsetenv(kHostSockets);
  else
    ::setenv(kHostSockets, kept.c_str(), 1);
}

}  // namespace

TempHome::TempHome() {
  std::string pattern = (std::filesystem::temp_directory_path() / "orvana-test-XXXXXX").string();
  char* dir = ::mkdtemp(pattern.data());
  path_ = dir ? std::filesystem::path(dir) : std::filesystem::temp_directory_path();
  ::setenv("ORVANA_HOME", path_.c_str(), 1);
  ::setenv("ORVANA_DEVICE", "127.0.0.1", 1);
}

TempHome::~TempHome() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
  ::unsetenv("ORVANA_HOME");
}

int openLoopbackUdp(unsigned short* port) {
  return bindLoopback(0, port);
}

LoopbackSocket::LoopbackSocket() : LoopbackSocket(false) {}

LoopbackSocket::LoopbackSocket(bool inheritable) {
  unsigned short port = 0;
  fd_ = bindLoopback(inheritable ? 0 : SOCK_CLOEXEC, &port);
  port_ = port;
}

LoopbackSocket::~LoopbackSocket() {
  if (fd_ >= 0) ::close(fd_);
}

bool LoopbackSocket::waitReadable(int timeoutMs) const {
  pollfd p{fd_, POLLIN, 0};
  return fd_ >= 0 && ::poll(&p, 1, timeoutMs) > 0 && (p.revents & POLLIN) != 0;
}

HostSocket::HostSocket() : LoopbackSocket(true) {
  if (fd() >= 0) relist(-1, fd());
}

HostSocket::~HostSocket() {
  if (fd() >= 0) relist(fd(), -1);
}

int waitForExit(pid_t pid, std::chrono::milliseconds limit) {
  using Clock = std::chrono::steady_clock;
  if (pid <= 0) return -1;
  const auto deadline = Clock::now() + limit;
  const int exited = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
  for (;;) {
    int status = 0;
    const pid_t r = ::waitpid(pid, &status, WNOHANG);
    if (r == pid) {
      if (exited >= 0) ::close(exited);
      return status;
    }
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (r < 0 || left.count() <= 0) break;
    if (exited >= 0) {
      // Readable once the process has ended.
      pollfd p{exited, POLLIN, 0};
      (void)::poll(&p, 1, static_cast<int>(left.count()) + 1);
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));  // no pidfd: poll the status
    }
  }
  if (exited >= 0) ::close(exited);
  return -1;
}

bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < deadline) {
    if (condition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return condition();
}

}  // namespace orvana::test

#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>

namespace orvana::test {

// A fresh folder set as ORVANA_HOME for the life of the object, removed afterwards; and the
// device pointed at loopback so nothing can reach a real address.
class TempHome {
 public:
  TempHome();
  ~TempHome();
  TempHome(const TempHome&) = delete;
  TempHome& operator=(const TempHome&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// A UDP socket bound to 127.0.0.1 on a port the system picks; the port goes to *port. -1 on
// failure.
int openLoopbackUdp(unsigned short* port);

// A UDP socket bound to 127.0.0.1 on a port the system picked, open for the object's life, so
// that nothing else can take the port meanwhile. fd() is -1 when the bind failed.
class LoopbackSocket {
 public:
  LoopbackSocket();
  ~LoopbackSocket();
  LoopbackSocket(const LoopbackSocket&) = delete;
  LoopbackSocket& operator=(const LoopbackSocket&) = delete;

  int fd() const { return fd_; }
  std::uint16_t port() const { return port_; }
  // True once a datagram is queued on the socket (it is left there); false after timeoutMs.
  // Whoever shares the socket sees the same queue, so this waits for replies to a link.
  bool waitReadable(int timeoutMs) const;

 protected:
  explicit LoopbackSocket(bool inheritable);

 private:
  int fd_ = -1;
  std::uint16_t port_ = 0;
};

// The port a test's host receives replies on. The socket is bound here and, for the object's
// life, listed in ORVANA_HOST_SOCKETS: every link of this process that asks for port() receives
// on it, and so do the programs the test starts, which inherit it. Nothing else can take the
// port between choosing it and the link binding it, as could happen with a port probed free.
class HostSocket : public LoopbackSocket {
 public:
  HostSocket();
  ~HostSocket();
};

// The wait status of child `pid` once it has ended, or -1 when it has not ended within `limit`
// (it is left running). Woken by the exit itself, not by polling.
int waitForExit(pid_t pid, std::chrono::milliseconds limit);

// True as soon as `condition` holds, checked every millisecond or so; false when it still does
// not after `limit`. For state another thread or program changes without telling anyone.
bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds limit);

}  // namespace orvana::test

#pragma once

// A minimal device for the benchmark: acknowledges writes, answers polls and reads with zeros,
// spinning on its socket like the floor's responder while traffic flows, optionally holding every
// reply back. It shows the link's own overhead apart from any simulator's.

#include <atomic>
#include <cstdint>
#include <thread>

namespace orvana::bench {

class MiniDevice {
 public:
  MiniDevice(std::uint16_t hostPort, int replyDelayMicros);
  ~MiniDevice();
  std::uint16_t port() const { return port_; }

 private:
  void run();
  int fd_ = -1;
  std::uint16_t port_ = 0;
  std::uint16_t hostPort_;
  int delayMicros_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace orvana::bench

#pragma once

// A device stand-in for exact-traffic tests: a real UDP socket on 127.0.0.1 that records every
// datagram the link sends and answers through a handler the test supplies.

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace orvana::test {

using Bytes = std::vector<std::uint8_t>;

// Answers like a well-behaved device: acknowledges writes, remembers the last write sequence,
// keeps a register image and serves register reads from it.
struct DeviceModel {
  std::vector<std::uint8_t> registers = std::vector<std::uint8_t>(1440, 0);
  std::uint8_t lastSequence = 0;
  int readOffset = 0;
  std::vector<Bytes> answer(const Bytes& request);
};

class ScriptedPeer {
 public:
  // Returns the datagrams to send back to the host for one request.
  using Handler = std::function<std::vector<Bytes>(const Bytes& request, DeviceModel& model)>;

  // Binds an ephemeral port on 127.0.0.1; replies go to 127.0.0.1:hostPort.
  explicit ScriptedPeer(std::uint16_t hostPort);
  ~ScriptedPeer();
  ScriptedPeer(const ScriptedPeer&) = delete;
  ScriptedPeer& operator=(const ScriptedPeer&) = delete;

  std::uint16_t port() const { return port_; }
  void setHandler(Handler h);
  // Everything received so far, in order.
  std::vector<Bytes> received();
  void clear();
  // Runs f with the device model under the peer's lock.
  void withModel(const std::function<void(DeviceModel&)>& f);

 private:
  void run();

  int fd_ = -1;
  std::uint16_t port_ = 0;
  std::uint16_t hostPort_;
  std::mutex mutex_;
  Handler handler_;
  DeviceModel model_;
  std::vector<Bytes> received_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// Helpers to build expected packets.
Bytes hexBytes(const char* text);

}  // namespace orvana::test

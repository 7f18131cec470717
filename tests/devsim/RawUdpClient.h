#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "support/TempHome.h"

namespace orvana::test {

using Bytes = std::vector<std::uint8_t>;

// A bare host for talking to the simulated device byte by byte: it sends from its own unbound
// socket and listens for replies on a copy of `reply` (whose port the device answers to), as
// the real host does. Whatever is already queued there is thrown away first.
class RawUdpClient {
 public:
  RawUdpClient(std::uint16_t devicePort, const LoopbackSocket& reply);
  ~RawUdpClient();
  RawUdpClient(const RawUdpClient&) = delete;
  RawUdpClient& operator=(const RawUdpClient&) = delete;

  bool ok() const { return send_ >= 0 && receive_ >= 0; }
  void send(const Bytes& packet);
  // The next datagram within timeoutMs, or nothing. The default is generous: only a reply
  // that never comes waits it out, and a loaded machine may hold one up for a while.
  std::optional<Bytes> receive(int timeoutMs = 5000);
  std::optional<Bytes> exchange(const Bytes& packet, int timeoutMs = 5000);
  // Datagrams that arrived on the send socket (the device must never answer there).
  int pendingOnSendSocket();
  void drain();

 private:
  int send_ = -1;
  int receive_ = -1;
  std::uint16_t devicePort_;
};

// Packet builders, all with board 1 in the parameter block.
Bytes writePacket(std::uint8_t code, std::uint8_t sequence, const Bytes& payload = {},
                  std::uint8_t accessKind = 0, std::uint16_t offset = 0);
Bytes readRequest(std::uint8_t code, std::uint8_t sequence, std::uint16_t replyLength);
Bytes pollPacket();
// Command 135: control word for `chip` with the given flags, then (kind, value) cycles.
Bytes cycleList(std::uint8_t sequence, int chip, const std::vector<std::pair<int, int>>& cycles,
                std::uint8_t flags = 0x01);

}  // namespace orvana::test

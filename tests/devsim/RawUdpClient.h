#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace orvana::test {

using Bytes = std::vector<std::uint8_t>;

// A bare host for talking to the simulated device byte by byte: it sends from its own unbound
// socket and listens for replies on 127.0.0.1:replyPort, as the real host does.
class RawUdpClient {
 public:
  RawUdpClient(std::uint16_t devicePort, std::uint16_t replyPort);
  ~RawUdpClient();
  RawUdpClient(const RawUdpClient&) = delete;
  RawUdpClient& operator=(const RawUdpClient&) = delete;

  bool ok() const { return send_ >= 0 && receive_ >= 0; }
  void send(const Bytes& packet);
  // The next datagram within timeoutMs, or nothing.
  std::optional<Bytes> receive(int timeoutMs = 500);
  std::optional<Bytes> exchange(const Bytes& packet, int timeoutMs = 500);
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

#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "devsim/RawUdpClient.h"

namespace orvana::test {

using Page = std::array<std::uint8_t, 8192>;

// Page operations spelled out as raw cycle lists and data moves, with a running sequence
// number, for driving the simulated device without the host's own flash code.
class WireHost {
 public:
  WireHost(std::uint16_t devicePort, const LoopbackSocket& reply) : client_(devicePort, reply) {}

  RawUdpClient& client() { return client_; }
  std::uint8_t nextSequence() {
    return sequence_ = static_cast<std::uint8_t>((sequence_ + 1) & 15);
  }

  // True when a 4-byte acknowledgement with the code came back.
  bool write(std::uint8_t code, const Bytes& payload, std::uint8_t kind = 0,
             std::uint16_t offset = 0) {
    auto reply = client_.exchange(writePacket(code, nextSequence(), payload, kind, offset));
    return reply && reply->size() == 4 && (*reply)[0] == code;
  }
  bool cycles(int chip, const std::vector<std::pair<int, int>>& list) {
    auto reply = client_.exchange(cycleList(nextSequence(), chip, list));
    return reply && reply->size() == 4 && (*reply)[0] == 135;
  }
  // n data bytes of a read of `code`, or nothing.
  std::optional<Bytes> read(std::uint8_t code, std::size_t n, std::size_t dataAt) {
    const auto length = static_cast<std::uint16_t>(n + dataAt);
    auto reply = client_.exchange(readRequest(code, nextSequence(), length));
    if (!reply || reply->size() != length || (*reply)[0] != code) return std::nullopt;
    return Bytes(reply->begin() + static_cast<long>(dataAt), reply->end());
  }

  static std::vector<std::pair<int, int>> rowCycles(std::uint32_t row) {
    return {{2, row & 0xFF}, {2, (row >> 8) & 0xFF}, {2, (row >> 16) & 0xFF}};
  }

  std::uint8_t status(int chip) {
    if (!cycles(chip, {{1, 0x70}})) return 0;
    auto b = read(136, 1, 19);
    return b ? (*b)[0] : 0;
  }
  bool readPage(int chip, std::uint32_t row, Page& out) {
    std::vector<std::pair<int, int>> list = {{1, 0x00}, {2, 0}, {2, 0}};
    for (auto c : rowCycles(row)) list.push_back(c);
    list.push_back({1, 0x30});
    if (!cycles(chip, list)) return false;
    for (std::size_t piece = 0; piece < 8; ++piece) {
      auto b = read(136, 1024, 19);
      if (!b) return false;
      std::copy(b->begin(), b->end(), out.begin() + static_cast<long>(piece * 1024));
    }
    return true;
  }
  // Program and return the status read after it (0 on a lost exchange).
  std::uint8_t programPage(int chip, std::uint32_t row, const Page& data) {
    std::vector<std::pair<int, int>> list = {{1, 0x80}, {2, 0}, {2, 0}};
    for (auto c : rowCycles(row)) list.push_back(c);
    if (!cycles(chip, list)) return 0;
    for (std::size_t piece = 0; piece < 8; ++piece) {
      Bytes chunk(data.begin() + static_cast<long>(piece * 1024),
                  data.begin() + static_cast<long>((piece + 1) * 1024));
      if (!write(136, chunk)) return 0;
    }
    if (!cycles(chip, {{1, 0x10}})) return 0;
    return status(chip);
  }
  std::uint8_t eraseBlock(int chip, std::uint32_t row) {
    std::vector<std::pair<int, int>> list = {{1, 0x60}};
    for (auto c : rowCycles(row)) list.push_back(c);
    list.push_back({1, 0xD0});
    if (!cycles(chip, list)) return 0;
    return status(chip);
  }

 private:
  RawUdpClient client_;
  std::uint8_t sequence_ = 0;
};

inline Page patternPage(std::uint32_t seed) {
  Page p{};
  std::uint32_t x = seed * 2654435761u + 1;
  for (auto& b : p) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    b = static_cast<std::uint8_t>(x);
  }
  return p;
}

}  // namespace orvana::test

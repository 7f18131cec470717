#pragma once

// Device link: the one object through which every exchange with the device passes.
//
// Wire format (all fields little-endian):
//   write    code | 0x80|seq | len16 = n+12 | parameter block (8) | payload (n)
//            device answers 4 bytes, byte 0 = code
//   read     code | seq | len16 = R          (R = n + ReplyOffset(code) + 12)
//            device answers R bytes, byte 0 = code, data from 12 + ReplyOffset(code)
//   poll     FF 00 05 00
//            device answers 5 bytes, FF .. .. .. last accepted write sequence
//   parameter block: access kind | offset16 | 0 | ~board | board | 0 0
//
// The NAND sequencer sits one layer up (flash) and is created beside the link with a reference to
// it, so that this library does not depend on the layer built on it.

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "common/Operator.h"
#include "link/TimingTable.h"

namespace orvana {

class ZT_MEM;
class TClientUDPSocket;
class TServerUDPSocket;

using ParameterBlock = std::array<std::uint8_t, 8>;

inline constexpr std::uint8_t kCmdBoard = 128;
inline constexpr std::uint8_t kCmdRegister = 130;
inline constexpr std::uint8_t kCmdFlashCycles = 135;
inline constexpr std::uint8_t kCmdFlashData = 136;
inline constexpr std::uint8_t kCmdPoll = 255;
// A write packet and its 12-byte header must fit the 1500-byte buffers.
inline constexpr int kMaxPayload = 1488;

// Where the data starts in a read reply, after the 12 header bytes.
int ReplyOffset(std::uint8_t code);

// Block for a register access (command 130) at `offset`; the link fills in the board bytes.
ParameterBlock RegisterBlock(std::uint16_t offset);

// How the link reads a datagram of `got` bytes (got <= 0: nothing came) that arrived while a
// command was outstanding; apart from the sockets so that it can be checked on its own.
// A write's acknowledgement: 4 bytes, starting with the write's code.
bool IsAcknowledgement(const std::uint8_t* reply, int got, std::uint8_t code);
// A poll reply (5 bytes, code 255): 1 when it names `sequence` as the last write the device
// took, 0 when it names another; -1 when the datagram is no poll reply.
int PollReplyVerdict(const std::uint8_t* reply, int got, std::uint8_t sequence);
// The reply to a read of n data bytes of `code`: exactly n + 12 + ReplyOffset(code) bytes (at
// most kPacketSize), starting with the code. Its data go to destination; false for anything else.
bool TakeReadReply(const std::uint8_t* reply, int got, std::uint8_t code, std::uint8_t* destination,
                   int n);

struct BoardEntry {
  char name[30] = {};
  std::int32_t id = 0;
  std::int32_t kind = 0;
};
using BoardTableArray = std::array<BoardEntry, 26>;

// The table as the device's modules are known: "Unknown" everywhere but the named boards.
BoardTableArray DefaultBoardTable();

class ITF_ZT {
 public:
  // Opens the sockets (the device at address:port, replies arriving on hostPort), then announces
  // the host, reads the registers and takes control of the device; the takeover question goes to
  // `op`. Never fails as such: LinkDead and LastFailed tell what happened.
  ITF_ZT(const std::string& address, std::uint16_t port, Operator& op,
         std::uint16_t hostPort = 21248);
  ~ITF_ZT();
  ITF_ZT(const ITF_ZT&) = delete;
  ITF_ZT& operator=(const ITF_ZT&) = delete;

  // Acknowledged write; true when acknowledged or confirmed by a poll.
  bool WriteCommand(std::uint8_t code, const ParameterBlock* block, const std::uint8_t* payload,
                    int n);
  // Read of n data bytes into destination; false at once without traffic for n <= 0 or a reply
  // that would not fit the packet buffer.
  bool ReadCommand(std::uint8_t code, std::uint8_t* destination, int n);
  // 1: the device took the current sequence; 0: it did not; -1: no poll reply.
  int Poll();
  bool SelectBoard(int index);

  bool IsConnected() const { return LastFailed == 0; }
  ZT_MEM& mem() { return *mem_; }

  std::int32_t WriteFailures = 0;
  std::int32_t ReadFailures = 0;
  std::int32_t PollConfirms = 0;
  // Read requests sent again because no matching reply came (or another datagram did). Each
  // one makes a streaming device produce a reply more than the host takes, which may then stand
  // in for a later read of the same length; layers above use it to distrust such data. Only
  // grows; nothing on the wire depends on it.
  std::int32_t ReadResends = 0;
  std::int32_t LastFailed = 0;
  std::uint8_t OwnerFlag = 0;
  std::uint8_t BoardNumber = 0;
  std::uint8_t BoardKind = 0;
  BoardTableArray BoardTable{};
  std::int32_t LinkDead = 0;
  std::uint8_t Sequence = 0;

 private:
  void advanceSequence();
  void deviceControlStartUp();

  Operator& op_;
  std::unique_ptr<ZT_MEM> mem_;
  std::unique_ptr<TClientUDPSocket> sender_;
  std::unique_ptr<TServerUDPSocket> receiver_;
};

}  // namespace orvana

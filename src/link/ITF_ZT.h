#pragma once

// Device link: the one object through which every exchange with the device passes.
// The NAND sequencer sits one layer up (flash) and is owned beside the link rather than by it,
// so that the link library does not depend on the layer built on it.

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "common/Operator.h"

namespace orvana {

class ITF_ZT;
class ZT_MEM;
class TClientUDPSocket;
class TServerUDPSocket;

using ParameterBlock = std::array<std::uint8_t, 8>;

// Process-wide protocol timing; stored values are halved once by the link's constructor.
struct TimingTableData {
  std::uint32_t ReceiveWait = 300;
  std::uint32_t PollWindow = 1000;
  std::int32_t WriteAttempts = 4;
  std::uint32_t ReadWindow = 1000;
  ITF_ZT* link = nullptr;
  std::int32_t UnitsPerMs = 0;
};

TimingTableData& TimingTable();

struct BoardEntry {
  char name[30] = {};
  std::int32_t id = 0;
  std::int32_t kind = 0;
};

class ITF_ZT {
 public:
  // Opens the sockets (replies arrive on hostPort) and runs the device-control start-up; the
  // takeover question goes to `op`.
  ITF_ZT(const std::string& address, std::uint16_t port, Operator& op,
         std::uint16_t hostPort = 21248);
  ~ITF_ZT();
  ITF_ZT(const ITF_ZT&) = delete;
  ITF_ZT& operator=(const ITF_ZT&) = delete;

  bool WriteCommand(std::uint8_t code, const ParameterBlock* block, const std::uint8_t* payload,
                    int n);
  bool ReadCommand(std::uint8_t code, std::uint8_t* destination, int n);
  int Poll();
  bool SelectBoard(int index);

  bool IsConnected() const { return LastFailed == 0; }
  ZT_MEM& mem() { return *mem_; }

  std::int32_t WriteFailures = 0;
  std::int32_t ReadFailures = 0;
  std::int32_t PollConfirms = 0;
  std::int32_t LastFailed = 0;
  std::uint8_t OwnerFlag = 0;
  std::uint8_t BoardNumber = 0;
  std::uint8_t BoardKind = 0;
  std::array<BoardEntry, 26> BoardTable{};
  std::int32_t LinkDead = 0;
  std::uint8_t Sequence = 0;

 private:
  Operator& op_;
  std::unique_ptr<ZT_MEM> mem_;
  std::unique_ptr<TClientUDPSocket> sender_;
  std::unique_ptr<TServerUDPSocket> receiver_;
};

// Cues clip `clipNumber` (directory slot 0..99) on `chip`; chips without a clip-select register
// are accepted without traffic.
bool SelectClip(int chip, int clipNumber);

}  // namespace orvana

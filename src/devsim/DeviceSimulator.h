#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/DeviceEndpoint.h"
#include "devsim/FaultPlan.h"
#include "devsim/NandArray.h"
#include "devsim/PageStore.h"

namespace orvana::devsim {

inline constexpr std::size_t kRegisterBytes = 1440;

struct DeviceSimulatorOptions {
  std::string address = "127.0.0.1";  // dotted IPv4 to bind
  std::uint16_t port = 0;             // 0: any free port, see DeviceSimulator::port()
  // Replies go to the requesting host's address at this port, never to the source port.
  std::uint16_t replyPort = kDevicePort;
  std::filesystem::path store;  // empty: pages kept in memory only
  FaultPlan faults;
  // Keep a copy of every datagram received (up to trafficLimit of them). Costs an allocation
  // per packet; benchmarks turn it off.
  bool recordTraffic = true;
  std::size_t trafficLimit = 65536;
  // How long the server keeps asking the socket before it sleeps in poll().
  std::uint32_t spinMicros = 100;
  // In-memory store: free pages kept ready, mapped while the server has nothing else to do, so
  // a burst of programs into fresh pages does not wait for the kernel to supply memory.
  std::size_t memoryReservePages = 1024;
};

struct PacketCounts {
  std::uint64_t received = 0;         // every datagram, whatever became of it
  std::uint64_t writes = 0;           // acknowledged writes executed
  std::uint64_t duplicateWrites = 0;  // repeats acknowledged again without executing
  std::uint64_t reads = 0;            // read requests answered
  std::uint64_t polls = 0;
  std::uint64_t rejected = 0;  // not of the wire format: no reply, nothing executed
  std::uint64_t ignored = 0;   // silent mode or a dropped request
  std::uint64_t repliesSent = 0;
  std::uint64_t repliesDropped = 0;
  std::uint64_t repliesDuplicated = 0;
  std::uint64_t repliesDelayed = 0;
};

// The device's side of the link as a real UDP server on its own thread: the 1440-byte register
// image, the board selection and the twelve NAND chips driven by cycle lists, with faults that
// can be injected reproducibly. Everything public may be called from any thread.
class DeviceSimulator {
 public:
  explicit DeviceSimulator(DeviceSimulatorOptions options = {});
  ~DeviceSimulator();
  DeviceSimulator(const DeviceSimulator&) = delete;
  DeviceSimulator& operator=(const DeviceSimulator&) = delete;

  // Opens the store (once), binds the socket and starts serving. False with error() set.
  bool start();
  void stop();
  bool running() const { return thread_.joinable(); }
  std::uint16_t port() const { return boundPort_; }
  const std::string& error() const { return error_; }

  void setFaults(const FaultPlan& faults);  // also restarts the generator from faults.seed
  FaultPlan faults() const;
  void setSilent(bool silent);
  // Called for every datagram received (numbered from 1), before it is carried out; for tests
  // that stop a host at an exact point of its traffic. Runs on the server thread.
  using DatagramHook =
      std::function<void(std::uint64_t number, const std::uint8_t* bytes, std::size_t size)>;
  void setDatagramHook(DatagramHook hook);

  std::uint8_t reg(std::size_t offset) const;
  void setRegister(std::size_t offset, std::uint8_t value);
  std::array<std::uint8_t, kRegisterBytes> registers() const;

  // Direct access to the cell arrays, bypassing the network and the fault plan. writePage
  // programs as the chip does (bits only cleared); erase first for an exact image.
  bool readPage(int chip, std::uint32_t row, std::uint8_t* out8192);
  bool writePage(int chip, std::uint32_t row, const std::uint8_t* data8192);
  bool eraseBlock(int chip, std::uint32_t block);
  std::uint8_t chipStatus(int chip) const;

  std::array<std::uint8_t, 4> flashControl() const;
  std::uint8_t selectedBoard() const;
  std::uint8_t lastSequence() const;

  // Carries out one datagram as the server does when it arrives, without the network: the reply
  // (at most kMaxDatagram bytes) goes to `reply`; returns its size, 0 when there is none (or the
  // fault plan drops it). Opens the store first if need be. Lets a fuzzer reach the request
  // parsing directly.
  std::size_t handleDatagram(const std::uint8_t* packet, std::size_t size, std::uint8_t* reply);

  std::vector<std::vector<std::uint8_t>> traffic() const;
  void clearTraffic();
  void setRecordTraffic(bool on);
  PacketCounts counts() const;

  static constexpr std::size_t kMaxDatagram = 1500;

 private:
  struct Outgoing {
    std::array<std::uint8_t, kMaxDatagram> bytes;
    std::size_t size = 0;
    int copies = 0;                // 0 = dropped, 2 = duplicated
    std::uint64_t delayNanos = 0;  // 0 = now
  };
  struct Delayed {
    std::uint64_t due = 0;
    std::uint32_t host = 0;  // network order
    std::size_t size = 0;
    std::array<std::uint8_t, kMaxDatagram> bytes;
  };

  void serve();
  void handle(const std::uint8_t* packet, std::size_t size, Outgoing& out);
  bool handleWrite(const std::uint8_t* packet, std::size_t size);
  std::size_t handleRead(const std::uint8_t* packet, std::uint8_t* reply);
  void decideFaults(Outgoing& out);
  double nextShare();
  void sendTo(std::uint32_t host, const std::uint8_t* bytes, std::size_t size);
  void flushDelayed(std::uint64_t now);
  std::uint64_t nextDue() const;

  DeviceSimulatorOptions options_;
  std::string error_;
  int socket_ = -1;
  int wake_ = -1;
  std::uint16_t boundPort_ = 0;
  std::thread thread_;
  std::atomic<bool> stopping_{false};

  // Guarded by mutex_.
  mutable std::mutex mutex_;
  FaultPlan faults_;
  std::uint64_t random_ = 0;
  PageStore store_;
  bool storeOpen_ = false;
  NandArray nand_{store_, faults_};
  std::array<std::uint8_t, kRegisterBytes> registers_{};
  std::uint16_t readOffset_ = 0;
  std::array<std::uint8_t, 4> flashControl_{1, 0, 1, 0};
  std::uint8_t board_ = 1;
  std::uint8_t boardKind_ = 0;
  std::uint8_t lastSequence_ = 0;
  std::array<std::uint8_t, kMaxDatagram> lastWrite_{};
  std::size_t lastWriteSize_ = 0;
  bool readSinceWrite_ = true;
  std::vector<std::vector<std::uint8_t>> traffic_;
  PacketCounts counts_;

  // Server thread only.
  std::vector<Delayed> delayed_;
  std::size_t delayedCount_ = 0;
  DatagramHook hook_;
};

}  // namespace orvana::devsim

#pragma once

// A minimal device on loopback for packet-level tests of the sequencer: it records every
// datagram, acknowledges writes, answers polls and reads, serves a fixed page and a scripted
// status byte. The full NAND behaviour lives in the simulated device; this peer exists to see
// the exact bytes and to script what the status register says.

#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "flash/PageBuffer.h"

namespace orvana::test {

class DevicePeer {
 public:
  using Datagram = std::vector<std::uint8_t>;

  // Replies go to 127.0.0.1:hostPort.
  explicit DevicePeer(std::uint16_t hostPort);
  ~DevicePeer();
  DevicePeer(const DevicePeer&) = delete;
  DevicePeer& operator=(const DevicePeer&) = delete;

  std::uint16_t port() const { return port_; }

  std::vector<Datagram> received();
  void clearReceived();

  // Status returned after a 70h list: the queue first, then `defaultStatus`.
  void setStatus(std::uint8_t status);
  void queueStatus(std::vector<std::uint8_t> statuses);
  // Served by page-data reads, 1024 bytes per read in order.
  void setPage(const PageBuffer& page);
  // Served instead by the next page-read lists (00h .. 30h), one page per list in order; then
  // the page of setPage again.
  void queuePages(std::vector<PageBuffer> pages);
  // Ignore data reads (page or status) until this many further requests have been dropped.
  void dropDataReads(int count);
  // Execute but do not acknowledge the next `count` writes (the link then polls).
  void dropAcks(int count);

  int statusReads() const { return statusReads_; }

 private:
  void run();
  void handle(const std::uint8_t* data, std::size_t n);
  void reply(const std::uint8_t* data, std::size_t n);

  int fd_ = -1;
  std::uint16_t port_ = 0;
  std::uint16_t hostPort_;
  std::atomic<bool> stop_{false};
  std::atomic<int> statusReads_{0};
  std::mutex mutex_;
  std::vector<Datagram> received_;
  std::deque<std::uint8_t> statusQueue_;
  std::uint8_t defaultStatus_ = 0x60;
  PageBuffer page_{};
  std::deque<PageBuffer> pageQueue_;
  PageBuffer queued_{};
  bool servingQueued_ = false;
  bool statusMode_ = false;
  int piece_ = 0;
  std::uint8_t lastSequence_ = 0;
  int dropReads_ = 0;
  int dropAcks_ = 0;
  std::thread thread_;
};

}  // namespace orvana::test

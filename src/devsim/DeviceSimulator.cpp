// The simulated device's side of the wire.
//
// Every datagram is one of three shapes, all little-endian:
//
//   write    code | 0x80+seq | length(2) | parameter block(8) | payload      -> 4-byte ack
//   read     code | seq      | R(2)                                         -> R-byte reply
//   poll     FF   | 00       | 05 00                                        -> 5-byte reply
//
// The parameter block is: access kind (1 for register access, else 0), register offset(2), 0,
// ~board, board, 0, 0. Only board 1 exists here, so every packet must carry FE 01.
//
//   code  write payload                         read reply (data at 12 + reply offset)
//   128   board number (1), board kind          -
//   130   n > 0: register bytes at the offset;  n bytes of the image from the offset set by
//         n = 0: sets the offset for reading    the last empty write (data at 16)
//   135   control word: chip+1, 0, flags, 0;    -
//         then 0..7 cycles (kind 1 command,
//         kind 2 address; value)
//   136   1024 bytes into the page register     1024 page bytes (R = 1043) or, after 70h,
//                                               the status byte (R = 20); data at 19
//
// Replies start with the request's code, its sequence byte and the reply length; the rest of
// the header is zero. The poll reply carries in byte 4 the sequence of the last write this
// device accepted (0 before any, which no host uses for its first write).
//
// Anything not of these shapes is rejected: not executed, not answered, and its sequence not
// remembered. A host that leans on leniency fails here, not at the real device.
//
// A repeated write: if a write arrives whose sequence and bytes equal the last accepted write,
// with no read request in between, it can only be the same packet again (duplicated or resent
// after a lost acknowledgement), so it is acknowledged without being executed a second time.
// Executing it again would shift the page data of a program by 1024 bytes.

#include "devsim/DeviceSimulator.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace orvana::devsim {

namespace {

constexpr std::uint8_t kCodeBoard = 128;
constexpr std::uint8_t kCodeRegister = 130;
constexpr std::uint8_t kCodeCycles = 135;
constexpr std::uint8_t kCodeFlashData = 136;
constexpr std::uint8_t kCodePoll = 255;

constexpr std::size_t kHeader = 12;
constexpr std::size_t kRegisterDataAt = 16;  // 12 + reply offset 4
constexpr std::size_t kFlashDataAt = 19;     // 12 + reply offset 7
constexpr std::size_t kFlashPiece = 1024;
constexpr std::size_t kMaxCycles = 7;
constexpr std::size_t kDelayedSlots = 32;

std::uint16_t le16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

void putLe16(std::uint8_t* p, std::size_t value) {
  p[0] = static_cast<std::uint8_t>(value & 0xFF);
  p[1] = static_cast<std::uint8_t>((value >> 8) & 0xFF);
}

std::uint64_t nowNanos() {
  timespec ts{};
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::uint64_t>(ts.tv_sec) * 1000000000ull +
         static_cast<std::uint64_t>(ts.tv_nsec);
}

}  // namespace

DeviceSimulator::DeviceSimulator(DeviceSimulatorOptions options) : options_(std::move(options)) {
  faults_ = options_.faults;
  random_ = faults_.seed;
}

DeviceSimulator::~DeviceSimulator() {
  stop();
}

bool DeviceSimulator::start() {
  if (running()) return true;
  error_.clear();
  {
    std::lock_guard lock(mutex_);
    if (!storeOpen_ && !options_.store.empty() && !store_.openFolder(options_.store, error_))
      return false;
    storeOpen_ = true;
  }
  in_addr bindAddress{};
  if (::inet_pton(AF_INET, options_.address.c_str(), &bindAddress) != 1) {
    error_ = "not a dotted IPv4 address: " + options_.address;
    return false;
  }
  socket_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (socket_ < 0) {
    error_ = std::string("socket: ") + std::strerror(errno);
    return false;
  }
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr = bindAddress;
  addr.sin_port = htons(options_.port);
  socklen_t len = sizeof addr;
  if (::bind(socket_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      ::getsockname(socket_, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    error_ = "cannot bind " + options_.address + ":" + std::to_string(options_.port) + ": " +
             std::strerror(errno);
    ::close(socket_);
    socket_ = -1;
    return false;
  }
  boundPort_ = ntohs(addr.sin_port);
  wake_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (wake_ < 0) {
    error_ = std::string("eventfd: ") + std::strerror(errno);
    ::close(socket_);
    socket_ = -1;
    return false;
  }
  delayed_.resize(kDelayedSlots);
  delayedCount_ = 0;
  stopping_ = false;
  thread_ = std::thread(&DeviceSimulator::serve, this);
  return true;
}

void DeviceSimulator::stop() {
  if (!thread_.joinable()) return;
  stopping_ = true;
  const std::uint64_t one = 1;
  [[maybe_unused]] ssize_t ignored = ::write(wake_, &one, sizeof one);
  thread_.join();
  ::close(socket_);
  ::close(wake_);
  socket_ = -1;
  wake_ = -1;
}

void DeviceSimulator::serve() {
  std::array<std::uint8_t, kMaxDatagram + 1> in{};
  Outgoing out{};
  pollfd fds[2] = {{socket_, POLLIN, 0}, {wake_, POLLIN, 0}};
  const std::uint64_t spin = static_cast<std::uint64_t>(options_.spinMicros) * 1000;
  std::uint64_t spinUntil = nowNanos() + spin;

  while (!stopping_.load(std::memory_order_relaxed)) {
    std::uint64_t now = nowNanos();
    if (delayedCount_ > 0) flushDelayed(now);

    sockaddr_in from{};
    socklen_t fromLen = sizeof from;
    // MSG_TRUNC reports the datagram's full length, so an oversized one is seen as such.
    const ssize_t n = ::recvfrom(socket_, in.data(), in.size(), MSG_TRUNC,
                                 reinterpret_cast<sockaddr*>(&from), &fromLen);
    if (n >= 0) {
      if (from.sin_family != AF_INET) continue;
      handle(in.data(), static_cast<std::size_t>(n), out);
      for (int copy = 0; copy < out.copies; ++copy) {
        if (out.delayNanos == 0 || delayedCount_ == delayed_.size()) {
          sendTo(from.sin_addr.s_addr, out.bytes.data(), out.size);
          continue;
        }
        Delayed& d = delayed_[delayedCount_++];
        d.due = now + out.delayNanos;
        d.host = from.sin_addr.s_addr;
        d.size = out.size;
        std::memcpy(d.bytes.data(), out.bytes.data(), out.size);
      }
      spinUntil = nowNanos() + spin;
      continue;
    }
    if (errno != EAGAIN && errno != EWOULDBLOCK) continue;
    if (now < spinUntil) continue;

    // Idle: prepare memory for later programs, a slab at a time, looking at the socket between.
    bool mapped = false;
    {
      std::lock_guard lock(mutex_);
      mapped = store_.TopUpReserve(options_.memoryReservePages);
    }
    if (mapped) continue;

    // Nothing for a while: sleep in the kernel until a datagram, a stop, or a delayed reply.
    timespec timeout{};
    timespec* wait = nullptr;
    if (delayedCount_ > 0) {
      const std::uint64_t due = nextDue();
      const std::uint64_t left = due > now ? due - now : 0;
      timeout.tv_sec = static_cast<time_t>(left / 1000000000ull);
      timeout.tv_nsec = static_cast<long>(left % 1000000000ull);
      wait = &timeout;
    }
    ::ppoll(fds, 2, wait, nullptr);
    spinUntil = nowNanos() + spin;
  }
}

void DeviceSimulator::sendTo(std::uint32_t host, const std::uint8_t* bytes, std::size_t size) {
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = host;
  to.sin_port = htons(options_.replyPort);
  ::sendto(socket_, bytes, size, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
}

std::uint64_t DeviceSimulator::nextDue() const {
  std::uint64_t due = UINT64_MAX;
  for (std::size_t i = 0; i < delayedCount_; ++i) due = std::min(due, delayed_[i].due);
  return due;
}

void DeviceSimulator::flushDelayed(std::uint64_t now) {
  // Keeps the order of what stays queued, so replies due together leave in arrival order.
  std::size_t kept = 0;
  for (std::size_t i = 0; i < delayedCount_; ++i) {
    Delayed& d = delayed_[i];
    if (d.due <= now) {
      sendTo(d.host, d.bytes.data(), d.size);
    } else {
      if (kept != i) std::swap(delayed_[kept], d);
      ++kept;
    }
  }
  delayedCount_ = kept;
}

double DeviceSimulator::nextShare() {
  // splitmix64: tiny, fast, and the same sequence for the same seed everywhere.
  std::uint64_t z = (random_ += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  z ^= z >> 31;
  return static_cast<double>(z >> 11) * 0x1.0p-53;
}

void DeviceSimulator::decideFaults(Outgoing& out) {
  out.copies = 1;
  out.delayNanos = 0;
  const FaultPlan& f = faults_;
  if (f.dropReplyShare <= 0 && f.duplicateReplyShare <= 0 && f.delayShare <= 0) return;
  // Always three draws per reply, so one fault's share does not shift the others' pattern.
  const double drop = nextShare();
  const double duplicate = nextShare();
  const double delay = nextShare();
  if (drop < f.dropReplyShare) {
    out.copies = 0;
    ++counts_.repliesDropped;
    return;
  }
  if (duplicate < f.duplicateReplyShare) {
    out.copies = 2;
    ++counts_.repliesDuplicated;
  }
  if (delay < f.delayShare && f.delayMicros > 0) {
    out.delayNanos = static_cast<std::uint64_t>(f.delayMicros) * 1000;
    ++counts_.repliesDelayed;
  }
}

std::size_t DeviceSimulator::handleDatagram(const std::uint8_t* packet, std::size_t size,
                                            std::uint8_t* reply) {
  {
    std::lock_guard lock(mutex_);
    if (!storeOpen_) {
      if (!options_.store.empty() && !store_.openFolder(options_.store, error_)) return 0;
      storeOpen_ = true;
    }
  }
  Outgoing out{};
  handle(packet, size, out);
  if (out.copies == 0 || out.size == 0) return 0;
  std::memcpy(reply, out.bytes.data(), out.size);
  return out.size;
}

void DeviceSimulator::handle(const std::uint8_t* packet, std::size_t size, Outgoing& out) {
  std::lock_guard lock(mutex_);
  out.copies = 0;
  out.size = 0;
  ++counts_.received;
  if (hook_) hook_(counts_.received, packet, size);
  if (options_.recordTraffic && traffic_.size() < options_.trafficLimit)
    traffic_.emplace_back(packet, packet + std::min(size, kMaxDatagram + 1));
  if (faults_.silent || (faults_.dropRequestShare > 0 && nextShare() < faults_.dropRequestShare)) {
    ++counts_.ignored;
    return;
  }
  std::uint8_t* reply = out.bytes.data();
  if (size >= 2 && size <= kMaxDatagram && (packet[1] & 0x80) != 0) {
    if (handleWrite(packet, size)) {
      reply[0] = packet[0];
      reply[1] = packet[1];
      putLe16(reply + 2, 4);
      out.size = 4;
    }
  } else if (size == 4) {
    out.size = handleRead(packet, reply);
  }
  if (out.size == 0) {
    ++counts_.rejected;
    return;
  }
  decideFaults(out);
  counts_.repliesSent += static_cast<std::uint64_t>(out.copies);
}

bool DeviceSimulator::handleWrite(const std::uint8_t* p, std::size_t size) {
  if (size < kHeader || (p[1] & 0x70) != 0 || le16(p + 2) != size) return false;
  const std::uint8_t* block = p + 4;
  if (block[3] != 0 || block[4] != 0xFE || block[5] != 0x01 || block[6] != 0 || block[7] != 0)
    return false;
  const std::uint8_t sequence = p[1] & 0x0F;
  if (!readSinceWrite_ && sequence == lastSequence_ && size == lastWriteSize_ &&
      std::memcmp(p, lastWrite_.data(), size) == 0) {
    ++counts_.duplicateWrites;
    return true;
  }

  const std::uint8_t kind = block[0];
  const std::uint16_t offset = le16(block + 1);
  const std::uint8_t* payload = p + kHeader;
  const std::size_t n = size - kHeader;
  const bool plain = kind == 0 && offset == 0;
  switch (p[0]) {
    case kCodeBoard:
      if (!plain || n != 2 || payload[0] != 1) return false;
      board_ = payload[0];
      boardKind_ = payload[1];
      break;
    case kCodeRegister:
      if (kind != 1) return false;
      if (n == 0) {
        if (offset >= kRegisterBytes) return false;
        readOffset_ = offset;
      } else {
        if (offset + n > kRegisterBytes) return false;
        std::memcpy(registers_.data() + offset, payload, n);
      }
      break;
    case kCodeCycles: {
      if (!plain || n < 4 || (n - 4) % 2 != 0 || (n - 4) / 2 > kMaxCycles) return false;
      const std::uint8_t chipSelect = payload[0];
      if (chipSelect < 1 || chipSelect > kChipCount || payload[1] != 0 || payload[3] != 0 ||
          (payload[2] & 0xFC) != 0)
        return false;
      for (std::size_t i = 4; i < n; i += 2)
        if (payload[i] != 1 && payload[i] != 2) return false;
      std::memcpy(flashControl_.data(), payload, 4);
      const int chip = chipSelect - 1;
      for (std::size_t i = 4; i < n; i += 2) {
        if (payload[i] == 1)
          nand_.command(chip, payload[i + 1]);
        else
          nand_.address(chip, payload[i + 1]);
      }
      break;
    }
    case kCodeFlashData:
      if (!plain || n != kFlashPiece) return false;
      nand_.dataIn(flashControl_[0] - 1, payload, n);
      break;
    default:
      return false;
  }
  ++counts_.writes;
  lastSequence_ = sequence;
  std::memcpy(lastWrite_.data(), p, size);
  lastWriteSize_ = size;
  readSinceWrite_ = false;
  return true;
}

std::size_t DeviceSimulator::handleRead(const std::uint8_t* p, std::uint8_t* reply) {
  const std::uint8_t code = p[0];
  const std::size_t length = le16(p + 2);
  if (code == kCodePoll) {
    if (p[1] != 0 || length != 5) return 0;
    reply[0] = kCodePoll;
    reply[1] = 0;
    putLe16(reply + 2, 5);
    reply[4] = lastSequence_;
    ++counts_.polls;
    return 5;
  }
  if ((p[1] & 0xF0) != 0 || length > kMaxDatagram) return 0;
  std::size_t dataAt = 0;
  if (code == kCodeRegister) {
    if (length <= kRegisterDataAt || readOffset_ + (length - kRegisterDataAt) > kRegisterBytes)
      return 0;
    dataAt = kRegisterDataAt;
    std::memcpy(reply + dataAt, registers_.data() + readOffset_, length - dataAt);
  } else if (code == kCodeFlashData) {
    if (length != kFlashDataAt + kFlashPiece && length != kFlashDataAt + 1) return 0;
    dataAt = kFlashDataAt;
    nand_.dataOut(flashControl_[0] - 1, reply + dataAt, length - dataAt);
  } else {
    return 0;
  }
  reply[0] = code;
  reply[1] = p[1];
  putLe16(reply + 2, length);
  std::memset(reply + 4, 0, dataAt - 4);
  readSinceWrite_ = true;
  ++counts_.reads;
  return length;
}

void DeviceSimulator::setFaults(const FaultPlan& faults) {
  std::lock_guard lock(mutex_);
  faults_ = faults;
  random_ = faults.seed;
}

FaultPlan DeviceSimulator::faults() const {
  std::lock_guard lock(mutex_);
  return faults_;
}

void DeviceSimulator::setSilent(bool silent) {
  std::lock_guard lock(mutex_);
  faults_.silent = silent;
}

std::uint8_t DeviceSimulator::reg(std::size_t offset) const {
  std::lock_guard lock(mutex_);
  return offset < kRegisterBytes ? registers_[offset] : 0;
}

void DeviceSimulator::setRegister(std::size_t offset, std::uint8_t value) {
  std::lock_guard lock(mutex_);
  if (offset < kRegisterBytes) registers_[offset] = value;
}

std::array<std::uint8_t, kRegisterBytes> DeviceSimulator::registers() const {
  std::lock_guard lock(mutex_);
  return registers_;
}

bool DeviceSimulator::readPage(int chip, std::uint32_t row, std::uint8_t* out8192) {
  if (chip < 0 || chip >= kChipCount || row >= kRowsPerChip) return false;
  std::lock_guard lock(mutex_);
  return store_.read(chip, row, out8192);
}

bool DeviceSimulator::writePage(int chip, std::uint32_t row, const std::uint8_t* data8192) {
  if (chip < 0 || chip >= kChipCount || row >= kRowsPerChip) return false;
  std::lock_guard lock(mutex_);
  return store_.program(chip, row, data8192);
}

bool DeviceSimulator::eraseBlock(int chip, std::uint32_t block) {
  if (chip < 0 || chip >= kChipCount || block >= kBlocksPerChip) return false;
  std::lock_guard lock(mutex_);
  return store_.erase(chip, block);
}

std::uint8_t DeviceSimulator::chipStatus(int chip) const {
  if (chip < 0 || chip >= kChipCount) return 0;
  std::lock_guard lock(mutex_);
  return nand_.peekStatus(chip);
}

std::array<std::uint8_t, 4> DeviceSimulator::flashControl() const {
  std::lock_guard lock(mutex_);
  return flashControl_;
}

std::uint8_t DeviceSimulator::selectedBoard() const {
  std::lock_guard lock(mutex_);
  return board_;
}

std::uint8_t DeviceSimulator::lastSequence() const {
  std::lock_guard lock(mutex_);
  return lastSequence_;
}

std::vector<std::vector<std::uint8_t>> DeviceSimulator::traffic() const {
  std::lock_guard lock(mutex_);
  return traffic_;
}

void DeviceSimulator::clearTraffic() {
  std::lock_guard lock(mutex_);
  traffic_.clear();
}

void DeviceSimulator::setRecordTraffic(bool on) {
  std::lock_guard lock(mutex_);
  options_.recordTraffic = on;
}

PacketCounts DeviceSimulator::counts() const {
  std::lock_guard lock(mutex_);
  return counts_;
}

void DeviceSimulator::setDatagramHook(DatagramHook hook) {
  std::lock_guard lock(mutex_);
  hook_ = std::move(hook);
}

}  // namespace orvana::devsim

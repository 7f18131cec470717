// The simulated device's handling of datagrams as they arrive, on a fresh device (pages in
// memory) per input.
//
// Input: a fault byte (busy status reads 0..3 in its low bits; bit 2 flips a bit of chip 0,
// row 0), then datagrams, each a 2-byte LE length and that many bytes (cut at the input's end).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "devsim/DeviceSimulator.h"

using namespace orvana::devsim;

namespace {

void require(bool condition) {
  if (!condition) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  DeviceSimulatorOptions options;
  options.recordTraffic = false;
  options.memoryReservePages = 0;
  options.faults.busyReads = data[0] & 3;
  if (data[0] & 4) options.faults.flips.push_back({0, 0, 17, 3});
  DeviceSimulator device(options);

  std::vector<std::uint8_t> reply(DeviceSimulator::kMaxDatagram);
  std::uint64_t handled = 0;
  for (std::size_t at = 1; at + 2 <= size;) {
    const std::size_t length = std::min<std::size_t>(data[at] | (data[at + 1] << 8), size - at - 2);
    at += 2;
    // Exactly the datagram's bytes on the heap, so a read past its end is caught.
    std::vector<std::uint8_t> datagram(data + at, data + at + length);
    at += length;
    datagram.reserve(1);
    const std::size_t answer = device.handleDatagram(datagram.data(), length, reply.data());
    ++handled;
    require(answer <= DeviceSimulator::kMaxDatagram);
    // Every reply starts with the request's code; nothing too long is ever answered.
    require(answer == 0 ||
            (length > 0 && length <= DeviceSimulator::kMaxDatagram && reply[0] == datagram[0]));
  }
  const PacketCounts counts = device.counts();
  require(counts.received == handled);
  require(counts.writes + counts.duplicateWrites + counts.reads + counts.polls + counts.rejected +
              counts.ignored ==
          handled);
  return 0;
}

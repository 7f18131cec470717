// The copy of a chip's new system area kept on disk while the area is rewritten, so a save cut
// short (a kill, a power loss, a lost link) can be completed instead of leaving the chip without
// its directory.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

#include "common/AtomicFile.h"
#include "common/Paths.h"
#include "store/ClipStore.h"

namespace orvana {

namespace {

constexpr char kMagic[8] = {'O', 'R', 'V', 'S', 'Y', 'S', '0', '1'};
constexpr std::size_t kHeader = sizeof kMagic + 8;

void putU32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

std::uint32_t getU32(const std::uint8_t* p) {
  std::uint32_t v = 0;
  for (int i = 0; i < 4; ++i) v |= static_cast<std::uint32_t>(p[i]) << (8 * i);
  return v;
}

// The file's bytes, or empty when it is missing, short, or fails its checksum.
std::vector<std::uint8_t> readValid(const std::filesystem::path& file, int chip) {
  std::vector<std::uint8_t> bytes;
  FILE* f = std::fopen(file.c_str(), "rb");
  if (f == nullptr) return bytes;
  const std::size_t expected = kHeader + static_cast<std::size_t>(kSystemAreaPages) * kPageSize + 8;
  bytes.resize(expected + 1);
  const std::size_t got = std::fread(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
  if (got != expected || std::memcmp(bytes.data(), kMagic, sizeof kMagic) != 0 ||
      getU32(&bytes[8]) != static_cast<std::uint32_t>(chip) ||
      getU32(&bytes[12]) != static_cast<std::uint32_t>(kSystemAreaPages)) {
    bytes.clear();
    return bytes;
  }
  std::uint64_t sum = 0;
  for (int i = 0; i < 8; ++i) sum |= static_cast<std::uint64_t>(bytes[expected - 8 + i]) << (8 * i);
  if (sum != Fnv1a64(bytes.data(), expected - 8)) bytes.clear();
  return bytes;
}

}  // namespace

bool WriteSystemAreaFile(const std::filesystem::path& file, int chip,
                         const std::vector<std::uint8_t>& image) {
  std::vector<std::uint8_t> bytes(kHeader + image.size() + 8);
  std::memcpy(bytes.data(), kMagic, sizeof kMagic);
  putU32(&bytes[8], static_cast<std::uint32_t>(chip));
  putU32(&bytes[12], static_cast<std::uint32_t>(kSystemAreaPages));
  std::copy(image.begin(), image.end(), bytes.begin() + static_cast<std::ptrdiff_t>(kHeader));
  bytes.resize(kHeader + image.size());
  const std::uint64_t sum = Fnv1a64(bytes.data(), bytes.size());
  for (int i = 0; i < 8; ++i) bytes.push_back(static_cast<std::uint8_t>(sum >> (8 * i)));

  return WriteFileAtomically(file, bytes);
}

std::filesystem::path ClipStore::PendingSystemAreaPath(int chip) const {
  if (DeviceName.empty()) return {};
  std::string name;
  for (char c : DeviceName) name += (std::isalnum(static_cast<unsigned char>(c)) ? c : '_');
  return paths::dataFolder() / "pending" / (name + "-chip" + std::to_string(chip) + ".sys");
}

bool ClipStore::HasPendingSystemArea(int chip) const {
  const std::filesystem::path file = PendingSystemAreaPath(chip);
  return !file.empty() && !readValid(file, chip).empty();
}

void ClipStore::RemovePendingSystemArea(int chip) const {
  const std::filesystem::path file = PendingSystemAreaPath(chip);
  if (file.empty()) return;
  std::error_code ec;
  std::filesystem::remove(file, ec);
}

bool ClipStore::CompletePendingSystemArea() {
  const std::vector<std::uint8_t> bytes =
      readValid(PendingSystemAreaPath(CurrentChip), CurrentChip);
  if (bytes.empty()) return false;
  const std::vector<std::uint8_t> image(
      bytes.begin() + static_cast<std::ptrdiff_t>(kHeader),
      bytes.begin() + static_cast<std::ptrdiff_t>(kHeader) + kSystemAreaPages * kPageSize);
  if (!ProgramSystemArea(image) || !LoadDirectory()) return false;
  RemovePendingSystemArea(CurrentChip);
  return true;
}

}  // namespace orvana

// The copy of a chip's new system area kept on disk while the area is rewritten, so a save cut
// short (a kill, a power loss, a lost link) can be completed instead of leaving the chip without
// its directory.
#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstring>

#include "common/Paths.h"
#include "store/ClipStore.h"

namespace orvana {

namespace {

constexpr char kMagic[8] = {'O', 'R', 'V', 'S', 'Y', 'S', '0', '1'};
constexpr std::size_t kHeader = sizeof kMagic + 8;

std::uint64_t fnv1a(const std::uint8_t* data, std::size_t n) {
  std::uint64_t h = 1469598103934665603ull;
  for (std::size_t i = 0; i < n; ++i) h = (h ^ data[i]) * 1099511628211ull;
  return h;
}

void putU32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

std::uint32_t getU32(const std::uint8_t* p) {
  std::uint32_t v = 0;
  for (int i = 0; i < 4; ++i) v |= static_cast<std::uint32_t>(p[i]) << (8 * i);
  return v;
}

bool writeAll(int fd, const std::uint8_t* data, std::size_t n) {
  while (n > 0) {
    const ssize_t w = ::write(fd, data, n);
    if (w <= 0) return false;
    data += w;
    n -= static_cast<std::size_t>(w);
  }
  return true;
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
  if (sum != fnv1a(bytes.data(), expected - 8)) bytes.clear();
  return bytes;
}

}  // namespace

bool WriteSystemAreaFile(const std::filesystem::path& file, int chip,
                         const std::vector<std::uint8_t>& image) {
  std::error_code ec;
  std::filesystem::create_directories(file.parent_path(), ec);
  std::vector<std::uint8_t> bytes(kHeader);
  std::memcpy(bytes.data(), kMagic, sizeof kMagic);
  putU32(&bytes[8], static_cast<std::uint32_t>(chip));
  putU32(&bytes[12], static_cast<std::uint32_t>(kSystemAreaPages));
  bytes.insert(bytes.end(), image.begin(), image.end());
  const std::uint64_t sum = fnv1a(bytes.data(), bytes.size());
  for (int i = 0; i < 8; ++i) bytes.push_back(static_cast<std::uint8_t>(sum >> (8 * i)));

  // Written beside its final name and renamed, both synced: the copy is whole or absent.
  std::filesystem::path temp = file;
  temp += ".tmp";
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  const bool ok = writeAll(fd, bytes.data(), bytes.size()) && ::fsync(fd) == 0;
  ::close(fd);
  if (!ok || ::rename(temp.c_str(), file.c_str()) != 0) {
    std::filesystem::remove(temp, ec);
    return false;
  }
  const int dir = ::open(file.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  return true;
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

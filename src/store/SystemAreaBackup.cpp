#include "store/SystemAreaBackup.h"

#include <cstdio>
#include <cstring>

#include "common/AtomicFile.h"
#include "store/ChipLayout.h"

namespace orvana {

namespace {

constexpr char kMagic[8] = {'O', 'R', 'V', 'B', 'A', 'K', '0', '1'};
constexpr std::size_t kImageBytes = static_cast<std::size_t>(kSystemAreaPages) * kPageSize;

void put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

std::uint32_t get32(const std::uint8_t* p) {
  std::uint32_t v = 0;
  for (int i = 0; i < 4; ++i) v |= static_cast<std::uint32_t>(p[i]) << (8 * i);
  return v;
}

}  // namespace

bool WriteBackupFile(const std::filesystem::path& file, const SystemAreaBackup& backup) {
  std::vector<std::uint8_t> bytes(kMagic, kMagic + sizeof kMagic);
  put32(bytes, static_cast<std::uint32_t>(backup.Channel));
  put32(bytes, static_cast<std::uint32_t>(backup.Chips.size()));
  for (std::size_t i = 0; i < backup.Chips.size(); ++i) {
    if (backup.Images[i].size() != kImageBytes) return false;
    put32(bytes, static_cast<std::uint32_t>(backup.Chips[i]));
    bytes.insert(bytes.end(), backup.Images[i].begin(), backup.Images[i].end());
  }
  const std::uint64_t sum = Fnv1a64(bytes.data(), bytes.size());
  for (int i = 0; i < 8; ++i) bytes.push_back(static_cast<std::uint8_t>(sum >> (8 * i)));

  return WriteFileAtomically(file, bytes);
}

bool ReadBackupFile(const std::filesystem::path& file, SystemAreaBackup& backup,
                    std::string* error) {
  auto fail = [error](const char* why) {
    if (error != nullptr) *error = why;
    return false;
  };
  FILE* f = std::fopen(file.c_str(), "rb");
  if (f == nullptr) return fail("cannot be opened");
  std::vector<std::uint8_t> bytes;
  // A channel has at most four chips; anything longer is not a backup.
  const std::size_t limit = sizeof kMagic + 8 + 4 * (4 + kImageBytes) + 8;
  bytes.resize(limit + 1);
  bytes.resize(std::fread(bytes.data(), 1, bytes.size(), f));
  std::fclose(f);
  if (bytes.size() < sizeof kMagic + 16 || bytes.size() > limit ||
      std::memcmp(bytes.data(), kMagic, sizeof kMagic) != 0)
    return fail("is not a backup of system areas");
  const std::size_t body = bytes.size() - 8;
  std::uint64_t sum = 0;
  for (int i = 0; i < 8; ++i) sum |= static_cast<std::uint64_t>(bytes[body + i]) << (8 * i);
  if (sum != Fnv1a64(bytes.data(), body)) return fail("is damaged (its checksum does not match)");
  const std::uint32_t count = get32(&bytes[12]);
  if (count == 0 || count > 4 || body != sizeof kMagic + 8 + count * (4 + kImageBytes))
    return fail("is not a backup of system areas");
  backup.Channel = static_cast<int>(get32(&bytes[8]));
  backup.Chips.clear();
  backup.Images.clear();
  std::size_t at = sizeof kMagic + 8;
  for (std::uint32_t i = 0; i < count; ++i) {
    backup.Chips.push_back(static_cast<int>(get32(&bytes[at])));
    at += 4;
    backup.Images.emplace_back(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                               bytes.begin() + static_cast<std::ptrdiff_t>(at + kImageBytes));
    at += kImageBytes;
  }
  return true;
}

}  // namespace orvana

#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace orvana {

// The system areas (directory, cell map, thumbnails) of a channel's chips, as kept in a backup
// file: each chip's image in the layout ClipStore::BuildSystemArea gives.
struct SystemAreaBackup {
  int Channel = 0;
  std::vector<int> Chips;
  std::vector<std::vector<std::uint8_t>> Images;
};

// Written beside its name and renamed, synced: the file is whole or absent.
bool WriteBackupFile(const std::filesystem::path& file, const SystemAreaBackup& backup);
// false with a reason in *error for a file that is missing, cut short or altered.
bool ReadBackupFile(const std::filesystem::path& file, SystemAreaBackup& backup,
                    std::string* error);

}  // namespace orvana

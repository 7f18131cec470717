#pragma once

#include <cstdint>
#include <filesystem>
#include <vector>

namespace orvana {

// Writes `bytes` beside `file` under a temporary name of its own, syncs, and renames it into place
// (then syncs the folder): the file is whole or not there at all, also across a crash or a power
// loss.
bool WriteFileAtomically(const std::filesystem::path& file, const std::vector<std::uint8_t>& bytes);

// FNV-1a, 64 bits: a checksum that tells a file cut short or altered.
std::uint64_t Fnv1a64(const std::uint8_t* data, std::size_t size);

}  // namespace orvana

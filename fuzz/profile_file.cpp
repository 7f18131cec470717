// The settings file reader on a file written from the input: a section and key named by the
// input itself, and a write read back.
//
// Input: the file's bytes. The section is the text of the first "[...]" in it and the key the
// text before the first '=' after it (both trimmed as the reader trims them).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "common/ProfileFile.h"

using namespace orvana;

namespace {

std::filesystem::path gFile;

std::string trimmed(const std::string& s) {
  const auto b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return {};
  return s.substr(b, s.find_last_not_of(" \t") - b + 1);
}

void require(bool condition) {
  if (!condition) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::string folder =
      (std::filesystem::exists("/dev/shm") ? std::string("/dev/shm")
                                           : std::filesystem::temp_directory_path().string()) +
      "/orvana-fuzz-ini-XXXXXX";
  if (::mkdtemp(folder.data()) == nullptr) std::abort();
  gFile = std::filesystem::path(folder) / "fuzz.ini";
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::FILE* f = std::fopen(gFile.c_str(), "wb");
  if (f == nullptr) return 0;
  const bool written = size == 0 || std::fwrite(data, 1, size, f) == size;
  if (std::fclose(f) != 0 || !written) return 0;

  const std::string text(reinterpret_cast<const char*>(data), size);
  std::string section = "Options", key = "TimeCode";
  if (const auto open = text.find('['); open != std::string::npos) {
    const auto close = text.find(']', open);
    if (close != std::string::npos) {
      section = trimmed(text.substr(open + 1, close - open - 1));
      const auto eq = text.find('=', close);
      const auto lineStart = text.rfind('\n', eq == std::string::npos ? 0 : eq);
      if (eq != std::string::npos && lineStart != std::string::npos && lineStart > close)
        key = trimmed(text.substr(lineStart + 1, eq - lineStart - 1));
    }
  }

  ProfileFile ini(gFile);
  const std::string problem = ini.problem();
  const std::string value = ini.readString(section, key, "");
  const std::int32_t number = ini.readInt(section, key, 12345);
  // A value that is a plain decimal integer in range reads as that integer.
  if (!value.empty() && value.size() < 10 &&
      value.find_first_not_of("0123456789") == std::string::npos)
    require(number == std::stoi(value));

  // A write of a plain value to a plain key reads back as written, in a file that can be read;
  // one that cannot is left alone.
  const bool stored = ini.writeString("Fuzz Section", "Fuzz_Key", "v-12.x");
  require(stored == problem.empty());
  if (stored) {
    require(ini.problem().empty());
    require(ini.readString("fuzz section", "FUZZ_KEY", "") == "v-12.x");
  }
  return 0;
}

#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace orvana {

// Reader/writer for Windows profile (INI) files. The file is opened and closed around every
// call so that nothing is cached; every write goes through a temporary file and a rename, so a
// crash never leaves a torn file. Section and key names match without regard to case, CRLF and
// LF line ends are both read, and files are written with CRLF as the Windows program did.
class ProfileFile {
 public:
  explicit ProfileFile(std::filesystem::path path) : path_(std::move(path)) {}

  const std::filesystem::path& path() const { return path_; }

  std::string readString(const std::string& section, const std::string& key,
                         const std::string& fallback) const;
  // Decimal integer with optional sign; anything else (or an out-of-range value) gives fallback,
  // as the Windows profile service did for non-numeric text.
  std::int32_t readInt(const std::string& section, const std::string& key,
                       std::int32_t fallback) const;

  bool writeString(const std::string& section, const std::string& key, const std::string& value);
  bool writeInt(const std::string& section, const std::string& key, std::int32_t value);

 private:
  std::filesystem::path path_;
};

}  // namespace orvana

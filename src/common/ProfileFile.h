#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace orvana {

// Reader/writer for Windows profile (INI) files. The file is opened and closed around every
// call so that nothing is cached; every write goes through a temporary file and a rename, so a
// crash never leaves a torn file. Section and key names match without regard to case, CRLF and
// LF line ends are both read, and files are written with CRLF as the Windows program did.
//
// Files come from outside, so a read never blocks and never takes more than kMaxBytes: only a
// regular file is read (a FIFO or a device is not), text saved as UTF-16 with a byte-order mark
// is read as UTF-8 and written back as UTF-16, a UTF-8 byte-order mark is skipped and kept. A
// file that exists but cannot be read as text is reported on stderr, naming it and why, once per
// process; its keys then read as their defaults and a write leaves it as it is.
class ProfileFile {
 public:
  static constexpr std::size_t kMaxBytes = 1 << 20;

  explicit ProfileFile(std::filesystem::path path) : path_(std::move(path)) {}

  const std::filesystem::path& path() const { return path_; }

  // Why the file cannot be read as settings; empty when it can or when there is no such file.
  std::string problem() const;

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

#include "common/ProfileFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <set>
#include <vector>

namespace orvana {
namespace {

std::string trim(const std::string& s) {
  auto begin = s.find_first_not_of(" \t");
  if (begin == std::string::npos) return {};
  auto end = s.find_last_not_of(" \t");
  return s.substr(begin, end - begin + 1);
}

bool sameName(const std::string& a, const std::string& b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
           return std::tolower(x) == std::tolower(y);
         });
}

enum class Encoding { Plain, Utf8Bom, Utf16Le, Utf16Be };

struct Loaded {
  Encoding encoding = Encoding::Plain;
  std::string problem;  // why the file cannot be read; empty when it can or is absent
  std::vector<std::string> lines;
};

void appendUtf8(std::string& out, std::uint32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// UTF-16 after its byte-order mark; an unpaired surrogate becomes U+FFFD, an odd last byte is
// dropped.
std::string utf16ToUtf8(const std::string& bytes, std::size_t from, bool littleEndian) {
  std::string out;
  auto unit = [&](std::size_t i) {
    const auto a = static_cast<unsigned char>(bytes[i]);
    const auto b = static_cast<unsigned char>(bytes[i + 1]);
    return static_cast<std::uint32_t>(littleEndian ? a | (b << 8) : (a << 8) | b);
  };
  for (std::size_t i = from; i + 1 < bytes.size(); i += 2) {
    std::uint32_t c = unit(i);
    if (c >= 0xD800 && c <= 0xDBFF && i + 3 < bytes.size()) {
      const std::uint32_t low = unit(i + 2);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
        i += 2;
      }
    }
    if (c >= 0xD800 && c <= 0xDFFF) c = 0xFFFD;
    appendUtf8(out, c);
  }
  return out;
}

// UTF-8 as written back into a UTF-16 file; a byte that starts no valid sequence is U+FFFD.
std::string utf8ToUtf16(const std::string& text, bool littleEndian) {
  std::string out = littleEndian ? "\xFF\xFE" : "\xFE\xFF";
  auto put = [&](std::uint32_t u) {
    const char hi = static_cast<char>(u >> 8), lo = static_cast<char>(u & 0xFF);
    out += littleEndian ? lo : hi;
    out += littleEndian ? hi : lo;
  };
  for (std::size_t i = 0; i < text.size();) {
    const auto b = static_cast<unsigned char>(text[i]);
    const int length = b < 0x80           ? 1
                       : (b >> 5) == 0x6  ? 2
                       : (b >> 4) == 0xE  ? 3
                       : (b >> 3) == 0x1E ? 4
                                          : 0;
    std::uint32_t c = 0xFFFD;
    int used = 1;
    if (length == 1) {
      c = b;
    } else if (length > 1 && i + static_cast<std::size_t>(length) <= text.size()) {
      std::uint32_t v = b & (0x7F >> length);
      bool ok = true;
      for (int k = 1; k < length && ok; ++k) {
        const auto t = static_cast<unsigned char>(text[i + static_cast<std::size_t>(k)]);
        ok = (t & 0xC0) == 0x80;
        v = (v << 6) | (t & 0x3F);
      }
      if (ok && v <= 0x10FFFF && !(v >= 0xD800 && v <= 0xDFFF)) {
        c = v;
        used = length;
      }
    }
    if (c >= 0x10000) {
      put(0xD800 + ((c - 0x10000) >> 10));
      put(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      put(c);
    }
    i += static_cast<std::size_t>(used);
  }
  return out;
}

std::string kindOf(mode_t mode) {
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISDIR(mode)) return "a folder";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
  if (S_ISSOCK(mode)) return "a socket";
  return "not a regular file";
}

// The file's bytes, at most kMaxBytes of them; opened without blocking, so a FIFO put in the
// file's place cannot hold the program up.
bool readBytes(const std::filesystem::path& path, std::string& bytes, std::string& problem) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    if (errno != ENOENT && errno != ENOTDIR) problem = std::strerror(errno);
    return false;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    problem = std::strerror(errno);
  } else if (!S_ISREG(st.st_mode)) {
    problem = "it is " + kindOf(st.st_mode) + ", not a regular file";
  } else if (static_cast<std::uintmax_t>(st.st_size) > ProfileFile::kMaxBytes) {
    problem = "it is larger than 1 MiB";
  } else {
    // The size may change meanwhile: one byte more than the limit tells a file grown past it.
    bytes.resize(ProfileFile::kMaxBytes + 1);
    std::size_t got = 0;
    while (got < bytes.size()) {
      const ssize_t n = ::read(fd, bytes.data() + got, bytes.size() - got);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        problem = std::strerror(errno);
        break;
      }
      if (n == 0) break;
      got += static_cast<std::size_t>(n);
    }
    bytes.resize(got);
    if (problem.empty() && got > ProfileFile::kMaxBytes) problem = "it is larger than 1 MiB";
  }
  ::close(fd);
  return problem.empty();
}

void report(const std::filesystem::path& path, const std::string& problem) {
  static std::mutex m;
  static std::set<std::string> told;
  const std::lock_guard<std::mutex> lock(m);
  if (!told.insert(path.string() + '\n' + problem).second) return;
  std::fprintf(stderr, "Settings file %s cannot be read: %s. Its settings are not used.\n",
               path.c_str(), problem.c_str());
}

Loaded load(const std::filesystem::path& path) {
  Loaded f;
  std::string bytes;
  if (!readBytes(path, bytes, f.problem)) return f;
  std::string text;
  auto starts = [&bytes](const char* mark) { return bytes.rfind(mark, 0) == 0; };
  if (starts("\xFF\xFE")) {
    f.encoding = Encoding::Utf16Le;
    text = utf16ToUtf8(bytes, 2, true);
  } else if (starts("\xFE\xFF")) {
    f.encoding = Encoding::Utf16Be;
    text = utf16ToUtf8(bytes, 2, false);
  } else if (starts("\xEF\xBB\xBF")) {
    f.encoding = Encoding::Utf8Bom;
    text = bytes.substr(3);
  } else {
    text = std::move(bytes);
  }
  // Zero bytes are no text: a file cut short by a crash, or binary data under the file's name.
  if (text.find('\0') != std::string::npos) {
    f.problem = "it is not text (it holds zero bytes)";
    return f;
  }
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(at, end - at);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    f.lines.push_back(std::move(line));
    at = end + 1;
  }
  return f;
}

Loaded loadReported(const std::filesystem::path& path) {
  Loaded f = load(path);
  if (!f.problem.empty()) report(path, f.problem);
  return f;
}

// "[Name]" -> "Name" (trimmed); empty optional-like result through the bool.
bool sectionName(const std::string& line, std::string& name) {
  std::string t = trim(line);
  if (t.size() < 2 || t.front() != '[') return false;
  auto close = t.find(']');
  if (close == std::string::npos) return false;
  name = trim(t.substr(1, close - 1));
  return true;
}

bool keyOf(const std::string& line, std::string& key, std::string& value) {
  std::string t = trim(line);
  if (t.empty() || t.front() == ';') return false;
  auto eq = t.find('=');
  if (eq == std::string::npos) return false;
  key = trim(t.substr(0, eq));
  value = trim(t.substr(eq + 1));
  return true;
}

bool writeAtomically(const std::filesystem::path& path, const std::string& content) {
  std::error_code ec;
  if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path(), ec);
  std::filesystem::path tmp = path;
  tmp += ".tmp" + std::to_string(::getpid());
  int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  const char* p = content.data();
  std::size_t left = content.size();
  while (left > 0) {
    ssize_t n = ::write(fd, p, left);
    if (n <= 0) {
      ::close(fd);
      ::unlink(tmp.c_str());
      return false;
    }
    p += n;
    left -= static_cast<std::size_t>(n);
  }
  bool ok = ::fsync(fd) == 0;
  ok = (::close(fd) == 0) && ok;
  if (!ok || ::rename(tmp.c_str(), path.c_str()) != 0) {
    ::unlink(tmp.c_str());
    return false;
  }
  return true;
}

}  // namespace

std::string ProfileFile::problem() const {
  return load(path_).problem;
}

std::string ProfileFile::readString(const std::string& section, const std::string& key,
                                    const std::string& fallback) const {
  bool inSection = false;
  for (const auto& line : loadReported(path_).lines) {
    std::string name, k, v;
    if (sectionName(line, name)) {
      inSection = sameName(name, section);
    } else if (inSection && keyOf(line, k, v) && sameName(k, key)) {
      // Quoted values lose their quotes, as with the Windows profile service.
      if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
        v = v.substr(1, v.size() - 2);
      return v;
    }
  }
  return fallback;
}

std::int32_t ProfileFile::readInt(const std::string& section, const std::string& key,
                                  std::int32_t fallback) const {
  std::string text = readString(section, key, "");
  if (text.empty()) return fallback;
  std::int64_t value = 0;
  const char* first = text.data();
  if (*first == '+') ++first;
  auto [ptr, ec] = std::from_chars(first, text.data() + text.size(), value);
  if (ec != std::errc() || ptr == first) return fallback;
  if (value < INT32_MIN || value > INT32_MAX) return fallback;
  return static_cast<std::int32_t>(value);
}

bool ProfileFile::writeString(const std::string& section, const std::string& key,
                              const std::string& value) {
  Loaded file = loadReported(path_);
  // Rewriting a file that could not be read would throw away whatever it holds.
  if (!file.problem.empty()) return false;
  std::vector<std::string>& lines = file.lines;
  // Locate the section and, inside it, the key; remember where the section ends so that a new
  // key goes after its last non-blank line.
  int sectionLine = -1, keyLine = -1, insertAt = -1;
  for (int i = 0; i < static_cast<int>(lines.size()); ++i) {
    std::string name, k, v;
    if (sectionName(lines[i], name)) {
      if (sectionLine >= 0) break;
      if (sameName(name, section)) {
        sectionLine = i;
        insertAt = i + 1;
      }
    } else if (sectionLine >= 0) {
      if (keyOf(lines[i], k, v) && sameName(k, key)) {
        keyLine = i;
        break;
      }
      if (!trim(lines[i]).empty()) insertAt = i + 1;
    }
  }
  std::string entry = key + "=" + value;
  if (keyLine >= 0) {
    lines[keyLine] = entry;
  } else if (sectionLine >= 0) {
    lines.insert(lines.begin() + insertAt, entry);
  } else {
    if (!lines.empty() && !trim(lines.back()).empty()) lines.emplace_back();
    lines.push_back("[" + section + "]");
    lines.push_back(entry);
  }
  std::string content;
  for (const auto& l : lines) content += l + "\r\n";
  switch (file.encoding) {
    case Encoding::Utf16Le:
    case Encoding::Utf16Be:
      content = utf8ToUtf16(content, file.encoding == Encoding::Utf16Le);
      break;
    case Encoding::Utf8Bom:
      content = "\xEF\xBB\xBF" + content;
      break;
    case Encoding::Plain:
      break;
  }
  return writeAtomically(path_, content);
}

bool ProfileFile::writeInt(const std::string& section, const std::string& key, std::int32_t value) {
  return writeString(section, key, std::to_string(value));
}

}  // namespace orvana

#include "common/ProfileFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <fstream>
#include <sstream>
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

std::vector<std::string> readLines(const std::filesystem::path& path) {
  std::vector<std::string> lines;
  std::ifstream in(path, std::ios::binary);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
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

std::string ProfileFile::readString(const std::string& section, const std::string& key,
                                    const std::string& fallback) const {
  bool inSection = false;
  for (const auto& line : readLines(path_)) {
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
  std::vector<std::string> lines = readLines(path_);
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
  return writeAtomically(path_, content);
}

bool ProfileFile::writeInt(const std::string& section, const std::string& key,
                           std::int32_t value) {
  return writeString(section, key, std::to_string(value));
}

}  // namespace orvana

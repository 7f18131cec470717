#include "media/ResumeFile.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <system_error>

#include "common/Paths.h"

namespace orvana {

ResumeFile::ResumeFile() : path_(paths::resumeFile()) {}

bool ResumeFile::IsFrameOnFlash(int channel, int chip, int i) const {
  std::FILE* f = std::fopen(path_.c_str(), "r");
  if (f == nullptr) return false;
  char line[81] = {};
  const bool got = std::fgets(line, sizeof line, f) != nullptr;
  std::fclose(f);
  if (!got) return false;
  int c = -1, k = -1, n = -1;
  const int read = std::sscanf(line, "%d %d %d", &c, &k, &n);
  return read >= 1 && c == channel && k == chip && i <= n;
}

void ResumeFile::NoteFrameOnFlash(int channel, int chip, int i) const {
  if (i % 2 == 0) return;
  // A name of its own (created exclusively), so that two programs noting at once never write
  // into one temporary file and rename each other's half-written line into place.
  std::string name = path_.string() + ".XXXXXX";
  const int fd = ::mkstemp(name.data());
  if (fd < 0) return;
  const std::filesystem::path temp = name;
  std::FILE* f = ::fdopen(fd, "w");
  if (f == nullptr) {
    ::close(fd);
    std::error_code ec;
    std::filesystem::remove(temp, ec);
    return;
  }
  const bool ok = std::fprintf(f, "%d %d %d\n", channel, chip, i) > 0 && std::fflush(f) == 0 &&
                  ::fsync(::fileno(f)) == 0;
  std::fclose(f);
  std::error_code ec;
  // A torn note would be worse than none: only a complete line replaces the old one.
  if (ok) std::filesystem::rename(temp, path_, ec);
  if (!ok || ec) std::filesystem::remove(temp, ec);
}

void ResumeFile::DeleteResumeFile() const {
  std::error_code ec;
  std::filesystem::remove(path_, ec);
}

}  // namespace orvana

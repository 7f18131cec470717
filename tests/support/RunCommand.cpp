#include "support/RunCommand.h"

#include <sys/wait.h>

#include <cstdio>

namespace orvana::test {

CommandResult runCommand(const std::string& commandLine) {
  CommandResult r;
  FILE* p = ::popen((commandLine + " </dev/null").c_str(), "r");
  if (p == nullptr) return r;
  char buf[512];
  while (std::fgets(buf, sizeof buf, p) != nullptr) r.out += buf;
  const int status = ::pclose(p);
  r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

std::string memoryCap(long kilobytes) {
#if defined(__SANITIZE_ADDRESS__)
  constexpr bool kAsan = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
  constexpr bool kAsan = true;
#else
  constexpr bool kAsan = false;
#endif
#else
  constexpr bool kAsan = false;
#endif
  if (kAsan)
    return "export ASAN_OPTIONS=\"${ASAN_OPTIONS:+$ASAN_OPTIONS:}max_allocation_size_mb=" +
           std::to_string(kilobytes / 1024) + "\"; ";
  return "ulimit -v " + std::to_string(kilobytes) + "; ";
}

}  // namespace orvana::test

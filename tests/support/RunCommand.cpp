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

}  // namespace orvana::test

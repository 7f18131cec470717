#pragma once

#include <string>

namespace orvana::test {

struct CommandResult {
  int exitCode = -1;  // -1 when the program did not exit normally
  std::string out;    // what it printed on standard output
};

// Runs a shell command line (stdin from /dev/null) and collects its standard output.
CommandResult runCommand(const std::string& commandLine);

}  // namespace orvana::test

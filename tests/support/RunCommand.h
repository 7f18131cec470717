#pragma once

#include <string>

namespace orvana::test {

struct CommandResult {
  int exitCode = -1;  // -1 when the program did not exit normally
  std::string out;    // what it printed on standard output
};

// Runs a shell command line (stdin from /dev/null) and collects its standard output.
CommandResult runCommand(const std::string& commandLine);

// A prefix for a command line that caps the program's memory at about `kilobytes`, so that a
// runaway allocation fails the test instead of filling the machine: "ulimit -v KB; ". Under
// AddressSanitizer, whose shadow memory needs far more address space than such a cap leaves,
// it caps every single allocation instead.
std::string memoryCap(long kilobytes);

}  // namespace orvana::test

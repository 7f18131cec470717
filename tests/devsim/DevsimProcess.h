#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace orvana::test {

// The real orvana-devsim program run as a child, for what only a separate process can show:
// being killed, signals, the command line.
class DevsimProcess {
 public:
  DevsimProcess() = default;
  ~DevsimProcess();
  DevsimProcess(const DevsimProcess&) = delete;
  DevsimProcess& operator=(const DevsimProcess&) = delete;

  // Starts the program with `args` and waits (at most 10 s) for its first output line.
  bool start(const std::vector<std::string>& args);
  const std::string& firstLine() const { return firstLine_; }
  // The port of "listening on ADDRESS:PORT" in the first line (started with --port 0, the one
  // the system picked); 0 when the line is not of that form.
  std::uint16_t port() const;
  void signal(int sig);
  // The exit status as waitpid reports it, or -1 after a 10 s wait.
  int wait();

 private:
  pid_t pid_ = -1;
  int output_ = -1;
  std::string firstLine_;
};

}  // namespace orvana::test

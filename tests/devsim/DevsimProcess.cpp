#include "devsim/DevsimProcess.h"

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>

#include "support/TempHome.h"

namespace orvana::test {

DevsimProcess::~DevsimProcess() {
  if (pid_ > 0) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
  if (output_ >= 0) ::close(output_);
}

bool DevsimProcess::start(const std::vector<std::string>& args) {
  int pipeFds[2];
  if (::pipe(pipeFds) != 0) return false;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDERR_FILENO);
  posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
  std::vector<std::string> all = {ORVANA_DEVSIM_BINARY};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  const int rc =
      ::posix_spawn(&pid_, ORVANA_DEVSIM_BINARY, &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(pipeFds[1]);
  output_ = pipeFds[0];
  if (rc != 0) {
    pid_ = -1;
    return false;
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::chrono::steady_clock::now() < deadline) {
    pollfd fd{output_, POLLIN, 0};
    if (::poll(&fd, 1, 100) <= 0) continue;
    char c = 0;
    if (::read(output_, &c, 1) != 1) break;
    if (c == '\n') return true;
    firstLine_ += c;
  }
  return false;
}

void DevsimProcess::signal(int sig) {
  if (pid_ > 0) ::kill(pid_, sig);
}

std::uint16_t DevsimProcess::port() const {
  const std::string prefix = "listening on ";
  const auto colon = firstLine_.rfind(':');
  if (firstLine_.rfind(prefix, 0) != 0 || colon == std::string::npos) return 0;
  const std::string digits = firstLine_.substr(colon + 1);
  if (digits.empty() || digits.size() > 5 ||
      digits.find_first_not_of("0123456789") != std::string::npos)
    return 0;
  const unsigned long value = std::stoul(digits);
  return value <= 65535 ? static_cast<std::uint16_t>(value) : 0;
}

int DevsimProcess::wait() {
  if (pid_ <= 0) return -1;
  const int status = waitForExit(pid_, std::chrono::seconds(10));
  if (status != -1) pid_ = -1;
  return status;
}

}  // namespace orvana::test

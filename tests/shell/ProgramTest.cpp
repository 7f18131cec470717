// The window program as a process: one copy at a time, and a termination request that closes
// it the way "Exit" does.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/Paths.h"
#include "common/ProfileFile.h"
#include "devsim/DeviceSimulator.h"
#include "support/TempHome.h"

namespace orvana {
namespace {

class Program {
 public:
  explicit Program(const std::vector<std::string>& env) {
    std::vector<std::string> all = env;
    for (char** e = environ; *e != nullptr; ++e) {
      const std::string kv = *e;
      const std::string key = kv.substr(0, kv.find('=') + 1);
      bool overridden = false;
      for (const std::string& mine : env) overridden |= mine.rfind(key, 0) == 0;
      if (!overridden) all.push_back(kv);
    }
    std::vector<char*> envp;
    for (std::string& kv : all) envp.push_back(kv.data());
    envp.push_back(nullptr);
    std::string path = ORVANA_GUI_BINARY;
    char* argv[] = {path.data(), nullptr};
    if (::posix_spawn(&pid_, path.c_str(), nullptr, nullptr, argv, envp.data()) != 0) pid_ = -1;
  }
  ~Program() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  bool running() {
    int status = 0;
    return pid_ > 0 && ::waitpid(pid_, &status, WNOHANG) == 0;
  }
  void signal(int sig) { ::kill(pid_, sig); }
  // The exit status, or -1 when it has not ended within the time.
  int wait(std::chrono::seconds limit) {
    const int status = test::waitForExit(pid_, limit);
    if (status != -1) pid_ = -1;
    return status;
  }

 private:
  pid_t pid_ = -1;
};

TEST(Program, ASecondCopyLeavesAndATerminationRequestClosesTheWindowAsExitDoes) {
  test::TempHome home;
  test::HostSocket hostSocket;  // both copies inherit it; the first receives on it
  const std::uint16_t hostPort = hostSocket.port();
  devsim::DeviceSimulatorOptions options;
  options.replyPort = hostPort;
  options.recordTraffic = false;
  devsim::DeviceSimulator sim(options);
  ASSERT_TRUE(sim.start()) << sim.error();
  const std::vector<std::string> env = {
      "ORVANA_HOME=" + home.path().string(),
      "XDG_RUNTIME_DIR=" + home.path().string(),
      "QT_QPA_PLATFORM=offscreen",
      "ORVANA_DEVICE=127.0.0.1:" + std::to_string(sim.port()),
      "ORVANA_HOST_PORT=" + std::to_string(hostPort),
  };

  Program first(env);
  // Register 0 set: the window has taken control of the device, so it holds the lock.
  ASSERT_TRUE(test::eventually([&] { return sim.reg(0) == 1; }, std::chrono::seconds(30)));

  Program second(env);
  const int secondStatus = second.wait(std::chrono::seconds(30));
  EXPECT_TRUE(WIFEXITED(secondStatus) && WEXITSTATUS(secondStatus) == 0) << secondStatus;
  EXPECT_TRUE(first.running());

  first.signal(SIGTERM);
  const int status = first.wait(std::chrono::seconds(60));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_EQ(sim.reg(0), 0);  // control given back
  const ProfileFile ini(paths::settingsFile(kMainIni));
  EXPECT_EQ(ini.readString("Options", "TimeCode", "absent"), "0");
  EXPECT_EQ(ini.readString("Options", "WhatMedia", "absent"), "0");
  EXPECT_EQ(ini.readString("CurrDir", "Dir", "absent"), "C:\\");
}

}  // namespace
}  // namespace orvana

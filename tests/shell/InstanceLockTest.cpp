#include "shell/InstanceLock.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/TempHome.h"

namespace orvana {
namespace {

TEST(InstanceLock, SecondHolderIsRefusedUntilTheFirstEnds) {
  test::TempHome home;
  const auto file = home.path() / "orvana.lock";
  {
    InstanceLock first(file);
    ASSERT_TRUE(first.acquired());
    // Another process is refused while this one holds the lock.
    const pid_t child = ::fork();
    if (child == 0) _exit(InstanceLock(file).acquired() ? 1 : 0);
    int status = -1;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  // Released with its holder (the kernel also releases it when a process dies).
  EXPECT_TRUE(InstanceLock(file).acquired());
}

}  // namespace
}  // namespace orvana

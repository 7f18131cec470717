#include "common/DeviceEndpoint.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "common/Paths.h"
#include "common/ProfileFile.h"
#include "support/TempHome.h"

namespace orvana {
namespace {

TEST(DeviceEndpoint, AddressComesFromOptionThenEnvironmentThenSettings) {
  test::TempHome home;
  ::unsetenv("ORVANA_DEVICE");
  ::unsetenv("ORVANA_HOST_PORT");
  EXPECT_EQ(ReadDeviceAddress(), kDefaultDeviceAddress);
  ProfileFile(paths::settingsFile(kAddressIni)).writeString("IP Address", "Addr", "127.0.0.9");
  EXPECT_EQ(resolveDeviceEndpoint().address, "127.0.0.9");
  ::setenv("ORVANA_DEVICE", "127.0.0.2:4000", 1);
  ::setenv("ORVANA_HOST_PORT", "4001", 1);
  auto ep = resolveDeviceEndpoint();
  EXPECT_EQ(ep.address, "127.0.0.2");
  EXPECT_EQ(ep.port, 4000);
  EXPECT_EQ(ep.hostPort, 4001);
  ep = resolveDeviceEndpoint("127.0.0.3", 5000);
  EXPECT_EQ(ep.address, "127.0.0.3");
  EXPECT_EQ(ep.port, kDevicePort);
  EXPECT_EQ(ep.hostPort, 5000);
  ::unsetenv("ORVANA_HOST_PORT");
}

// The address saved by another editor as UTF-16 is the address; one that cannot be read is no
// address at all rather than the built-in one.
TEST(DeviceEndpoint, AddressFileInUtf16OrUnreadable) {
  test::TempHome home;
  ::unsetenv("ORVANA_DEVICE");
  const auto file = paths::settingsFile(kAddressIni);
  std::string bytes = "\xFF\xFE";
  for (char c : std::string("[IP Address]\r\nAddr=127.0.0.9\r\n")) bytes += {c, '\0'};
  std::filesystem::create_directories(file.parent_path());
  std::ofstream(file, std::ios::binary) << bytes;
  EXPECT_EQ(resolveDeviceEndpoint().address, "127.0.0.9");

  std::filesystem::remove(file);
  std::filesystem::create_symlink("/dev/zero", file);
  testing::internal::CaptureStderr();
  EXPECT_EQ(ReadDeviceAddress(), "");
  const std::string told = testing::internal::GetCapturedStderr();
  EXPECT_NE(told.find(file.string()), std::string::npos) << told;
  ::setenv("ORVANA_DEVICE", "127.0.0.1", 1);
}

TEST(DeviceEndpoint, RejectsMalformedSpecs) {
  for (const char* bad : {"", "1.2.3.4:", "1.2.3.4:0", "1.2.3.4:70000", ":99", "1.2.3.4:x"})
    EXPECT_FALSE(parseDeviceSpec(bad).has_value()) << bad;
}

}  // namespace
}  // namespace orvana

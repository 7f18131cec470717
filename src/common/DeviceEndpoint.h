#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace orvana {

inline constexpr std::uint16_t kDevicePort = 21248;
// Used when no address has ever been configured. Private range; tests never reach it because
// they always point ORVANA_DEVICE or --device at loopback.
inline constexpr const char* kDefaultDeviceAddress = "192.168.10.200";

// Where the device is and which local port receives its replies.
struct DeviceEndpoint {
  std::string address;                   // dotted IPv4
  std::uint16_t port = kDevicePort;      // device port
  std::uint16_t hostPort = kDevicePort;  // local port the replies arrive on
};

// "Addr" of section "IP Address" in itf_ip.ini, unchanged (no validation), or the default when
// there is no such file or key. A file that is there but cannot be read (reported on stderr)
// gives no address at all: the device it named is not to be swapped for the built-in one.
std::string ReadDeviceAddress();

// "ADDR" or "ADDR:PORT"; nullopt when the text is not of that form.
std::optional<DeviceEndpoint> parseDeviceSpec(const std::string& text);

// Resolves the endpoint: the explicit option if given, else ORVANA_DEVICE, else the settings
// file; the host port likewise from the option, ORVANA_HOST_PORT or the default.
DeviceEndpoint resolveDeviceEndpoint(const std::string& deviceOption = {},
                                     std::optional<std::uint16_t> hostPortOption = {});

}  // namespace orvana

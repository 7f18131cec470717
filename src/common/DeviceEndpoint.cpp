#include "common/DeviceEndpoint.h"

#include <charconv>
#include <cstdlib>

#include "common/Paths.h"
#include "common/ProfileFile.h"

namespace orvana {
namespace {

std::optional<std::uint16_t> parsePort(const std::string& text) {
  unsigned value = 0;
  auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || ptr != text.data() + text.size() || value == 0 || value > 65535)
    return std::nullopt;
  return static_cast<std::uint16_t>(value);
}

}  // namespace

std::string ReadDeviceAddress() {
  ProfileFile ini(paths::settingsFile(kAddressIni));
  const std::string address = ini.readString("IP Address", "Addr", kDefaultDeviceAddress);
  return ini.problem().empty() ? address : std::string();
}

std::optional<DeviceEndpoint> parseDeviceSpec(const std::string& text) {
  if (text.empty()) return std::nullopt;
  DeviceEndpoint ep;
  auto colon = text.rfind(':');
  if (colon == std::string::npos) {
    ep.address = text;
  } else {
    ep.address = text.substr(0, colon);
    auto port = parsePort(text.substr(colon + 1));
    if (!port || ep.address.empty()) return std::nullopt;
    ep.port = *port;
  }
  return ep;
}

DeviceEndpoint resolveDeviceEndpoint(const std::string& deviceOption,
                                     std::optional<std::uint16_t> hostPortOption) {
  DeviceEndpoint ep;
  std::optional<DeviceEndpoint> parsed;
  if (!deviceOption.empty()) parsed = parseDeviceSpec(deviceOption);
  if (!parsed) {
    const char* env = std::getenv("ORVANA_DEVICE");
    if (env && *env) parsed = parseDeviceSpec(env);
  }
  if (parsed) {
    ep = *parsed;
  } else {
    ep.address = ReadDeviceAddress();
  }
  if (hostPortOption) {
    ep.hostPort = *hostPortOption;
  } else if (const char* env = std::getenv("ORVANA_HOST_PORT"); env && *env) {
    if (auto p = parsePort(env)) ep.hostPort = *p;
  }
  return ep;
}

}  // namespace orvana

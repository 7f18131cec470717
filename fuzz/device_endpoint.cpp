// Device addresses as the programs take them: the --device text, ORVANA_HOST_PORT and the
// address file itf_ip.ini, resolved into an endpoint, and the dotted-address check the link
// applies before it opens a socket (none is opened here).
//
// Input: the --device text, a zero byte, the host port text, a zero byte, the address file's
// bytes (parts missing at the end are empty).
#include <arpa/inet.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "common/DeviceEndpoint.h"
#include "common/Paths.h"
#include "link/TUDPSocket.h"

using namespace orvana;

namespace {

void require(bool condition) {
  if (!condition) __builtin_trap();
}

std::string part(const std::string& text, std::size_t& at) {
  if (at > text.size()) return {};
  std::size_t end = text.find('\0', at);
  if (end == std::string::npos) end = text.size();
  std::string p = text.substr(at, end - at);
  at = end + 1;
  return p;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::string folder =
      (std::filesystem::exists("/dev/shm") ? std::string("/dev/shm")
                                           : std::filesystem::temp_directory_path().string()) +
      "/orvana-fuzz-endpoint-XXXXXX";
  if (::mkdtemp(folder.data()) == nullptr) std::abort();
  ::setenv("ORVANA_HOME", folder.c_str(), 1);
  ::unsetenv("ORVANA_DEVICE");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::size_t at = 0;
  const std::string device = part(text, at);
  const std::string hostPort = part(text, at);
  const std::string file = at <= text.size() ? text.substr(at) : std::string();

  if (const auto ep = parseDeviceSpec(device)) {
    require(!device.empty() && ep->port != 0);
    // What was understood reads back the same when written out in full.
    const auto again = parseDeviceSpec(ep->address + ":" + std::to_string(ep->port));
    require(again && again->address == ep->address && again->port == ep->port);
    if (const auto a = ParseDottedIPv4(ep->address)) {
      char back[INET_ADDRSTRLEN] = {};
      require(::inet_ntop(AF_INET, &*a, back, sizeof back) != nullptr);
      require(ParseDottedIPv4(back).has_value());
    }
  }

  const std::filesystem::path ini = paths::settingsFile(kAddressIni);
  std::error_code ec;
  std::filesystem::create_directories(ini.parent_path(), ec);
  if (std::FILE* f = std::fopen(ini.c_str(), "wb")) {
    if (!file.empty()) std::fwrite(file.data(), 1, file.size(), f);
    std::fclose(f);
  }
  if (hostPort.empty())
    ::unsetenv("ORVANA_HOST_PORT");
  else
    ::setenv("ORVANA_HOST_PORT", hostPort.c_str(), 1);
  const DeviceEndpoint ep = resolveDeviceEndpoint(device);
  require(ep.port != 0 && ep.hostPort != 0);
  (void)ParseDottedIPv4(ep.address);
  (void)ReadDeviceAddress();
  return 0;
}

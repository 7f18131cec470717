#pragma once

#include <CLI/CLI.hpp>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "common/DeviceEndpoint.h"

namespace orvana::cli {

// Options every command shares.
struct Globals {
  std::string device;                     // --device ADDR[:PORT]
  std::optional<std::uint16_t> hostPort;  // --host-port N
  bool yes = false;                       // --yes answers every question with Yes
  DeviceEndpoint endpoint() const { return resolveDeviceEndpoint(device, hostPort); }
};

// Each layer adds its subcommands; a command's callback stores its exit code in `exitCode`.
void addLinkCommands(CLI::App& app, Globals& g, int& exitCode);
void addFlashCommands(CLI::App& app, Globals& g, int& exitCode);
void addStoreCommands(CLI::App& app, Globals& g, int& exitCode);
void addMediaCommands(CLI::App& app, Globals& g, int& exitCode);
void addWriteCommands(CLI::App& app, Globals& g, int& exitCode);
void addDemoCommands(CLI::App& app, Globals& g, int& exitCode);
void addBackupCommands(CLI::App& app, Globals& g, int& exitCode);

}  // namespace orvana::cli

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
void addJournalCommands(CLI::App& app, Globals& g, int& exitCode);
// view, and export (whose --full mode is the full export below).
void addViewCommands(CLI::App& app, Globals& g, int& exitCode);

// The full export mode of `export` (FullExportCommand.cpp).
struct FullExportRequest {
  bool full = false;    // --full
  std::string channel;  // --channel NAME
  int number = 1;       // --number N
  std::string file;     // -o FILE.avi
  std::string codec;    // --codec utvideo|ffv1|mjpeg|mpeg4, empty: the export's own
};
// Adds --channel and --full to the export command (which owns --number, -o and --codec).
void addFullExportOptions(CLI::App& command, FullExportRequest& request);
// Runs the full export: 0 done, 1 failed or stopped by a signal, 2 bad arguments.
int runFullExport(const Globals& g, const FullExportRequest& request);

}  // namespace orvana::cli

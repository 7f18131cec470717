#include "Cli.h"

int main(int argc, char** argv) {
  using namespace orvana::cli;
  CLI::App app{"Orvana command line: the media store of the playout device"};
  app.require_subcommand(1);
  Globals g;
  app.add_option("--device", g.device, "Device address ADDR[:PORT] (default: settings)");
  app.add_option("--host-port", g.hostPort, "Local port the device's replies arrive on");
  app.add_flag("-y,--yes", g.yes, "Answer Yes to every question");
  int exitCode = 0;
  addLinkCommands(app, g, exitCode);
  addFlashCommands(app, g, exitCode);
  addStoreCommands(app, g, exitCode);
  addMediaCommands(app, g, exitCode);
  addWriteCommands(app, g, exitCode);
  addDemoCommands(app, g, exitCode);
  addBackupCommands(app, g, exitCode);
  CLI11_PARSE(app, argc, argv);
  return exitCode;
}

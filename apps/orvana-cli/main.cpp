#include <cstdio>
#include <cstring>
#include <exception>
#include <new>

#include "Cli.h"
#include "StopSignals.h"

int main(int argc, char** argv) {
  using namespace orvana::cli;
  InstallStopSignals();
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
  addViewCommands(app, g, exitCode);  // registers export, with the full export as its --full
  // Whatever ends a command comes back here, so the device stacks are torn down on the way.
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e);
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "orvana-cli: out of memory; the command was stopped.\n");
    exitCode = 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "orvana-cli: %s\n", e.what());
    exitCode = 1;
  }
  if (StopRequested()) {
    std::fprintf(stderr, "orvana-cli: stopped (signal %d, %s).\n", StopSignal(),
                 ::strsignal(StopSignal()));
    return StopExitCode();
  }
  return exitCode;
}

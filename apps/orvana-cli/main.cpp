#include <cstdio>
#include <cstring>
#include <exception>
#include <new>
#include <string>

#include "Cli.h"
#include "StopSignals.h"

namespace orvana::cli {
namespace {

constexpr const char* kFooter =
    "Global options (--device, --host-port, -y/--yes) go before or after the command.\n"
    "\n"
    "Exit codes:\n"
    "  0    success\n"
    "  1    failure: no answer from the device, a clip or frame not found, a question\n"
    "       answered No, an operation the device refused or that failed\n"
    "  2    usage: unknown command or option, a missing or invalid argument\n"
    "  130  stopped by Ctrl-C (SIGINT); SIGTERM gives 143 and SIGHUP 129 (128 + the\n"
    "       signal's number); the command stops at its next safe point";

// One line per command for the shell completion (orvana-cli.bash): the command's words, a tab,
// then its options. A flag stands alone; an option taking a value ends in '=' followed by its
// choices joined by '|', "@file" for a file name, or nothing.
std::string optionWord(const CLI::Option& o, const std::string& name) {
  if (o.get_expected_max() == 0) return name;
  const std::string type = o.get_type_name();
  const auto open = type.find('{');
  const auto close = type.find('}', open);
  if (open != std::string::npos && close != std::string::npos) {
    std::string choices = type.substr(open + 1, close - open - 1);
    for (char& c : choices)
      if (c == ',') c = '|';
    return name + "=" + choices;
  }
  const std::string base = type.substr(0, type.find(':'));
  return name + (base == "TEXT" || base == "FILE" ? "=@file" : "=");
}

void listCommands(const CLI::App& app, const std::string& path) {
  std::string line = path + "\t";
  bool first = true;
  for (const CLI::Option* o : app.get_options()) {
    if (o->get_group().empty()) continue;  // hidden
    for (const auto& s : o->get_snames()) {
      line += (first ? "-" : " -") + optionWord(*o, s);
      first = false;
    }
    for (const auto& l : o->get_lnames()) {
      line += (first ? "--" : " --") + optionWord(*o, l);
      first = false;
    }
  }
  std::printf("%s\n", line.c_str());
  for (const CLI::App* sub : app.get_subcommands([](const CLI::App*) { return true; }))
    listCommands(*sub, path.empty() ? sub->get_name() : path + " " + sub->get_name());
}

}  // namespace
}  // namespace orvana::cli

int main(int argc, char** argv) {
  using namespace orvana::cli;
  InstallStopSignals();
  CLI::App app{"Orvana command line: the media store of the playout device", "orvana-cli"};
  // Set before the commands are added, which inherit them: the exit codes in every command's
  // help, and the global options accepted after a command (a command's own option of the same
  // name still comes first).
  app.footer(kFooter);
  app.fallthrough();
  app.require_subcommand(1);
  app.set_version_flag("--version", std::string("orvana-cli ") + ORVANA_VERSION,
                       "Print the version and exit");
  Globals g;
  app.add_option("--device", g.device, "Device address ADDR[:PORT] (default: settings)")
      ->type_name("ADDR[:PORT]");
  app.add_option("--host-port", g.hostPort, "Local port the device's replies arrive on")
      ->type_name("N");
  app.add_flag("-y,--yes", g.yes, "Answer Yes to every question");
  app.add_flag_callback(
         "--list-commands",
         [&app] {
           listCommands(app, "");
           throw CLI::Success();
         },
         "The commands and their options, for the shell completion")
      ->group("");
  int exitCode = 0;
  addLinkCommands(app, g, exitCode);
  addFlashCommands(app, g, exitCode);
  addStoreCommands(app, g, exitCode);
  addMediaCommands(app, g, exitCode);
  addWriteCommands(app, g, exitCode);
  addDemoCommands(app, g, exitCode);
  addBackupCommands(app, g, exitCode);
  addJournalCommands(app, g, exitCode);
  addViewCommands(app, g, exitCode);  // registers export, with the full export as its --full
  // Whatever ends a command comes back here, so the device stacks are torn down on the way.
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    // --help, --version and --list-commands come here with 0; CLI11 gives each kind of usage
    // error a code of its own (100 and up), which scripts need not tell apart.
    return app.exit(e) == 0 ? 0 : 2;
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

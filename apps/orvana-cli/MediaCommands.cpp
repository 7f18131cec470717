#include "Cli.h"

namespace orvana::cli {

void addMediaCommands(CLI::App&, Globals&, int&) {}

}  // namespace orvana::cli

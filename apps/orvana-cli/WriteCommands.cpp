#include "Cli.h"

namespace orvana::cli {

void addWriteCommands(CLI::App&, Globals&, int&) {}

}  // namespace orvana::cli

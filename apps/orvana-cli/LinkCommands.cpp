#include "Cli.h"

namespace orvana::cli {

void addLinkCommands(CLI::App&, Globals&, int&) {}

}  // namespace orvana::cli

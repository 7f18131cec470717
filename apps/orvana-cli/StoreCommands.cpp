#include "Cli.h"

namespace orvana::cli {

void addStoreCommands(CLI::App&, Globals&, int&) {}

}  // namespace orvana::cli

#include "Cli.h"

namespace orvana::cli {

void addFlashCommands(CLI::App&, Globals&, int&) {}

}  // namespace orvana::cli

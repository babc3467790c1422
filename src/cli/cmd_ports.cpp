#include "cli/commands.h"

namespace kestal::cli {

void AddPortsCommand(CLI::App&, int&) {}

}  // namespace kestal::cli

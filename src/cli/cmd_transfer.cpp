#include "cli/commands.h"

namespace kestal::cli {

void AddTransferCommands(CLI::App&, int&) {}

}  // namespace kestal::cli

#include "cli/commands.h"

namespace kestal::cli {

void AddImageCommands(CLI::App&, int&) {}

}  // namespace kestal::cli

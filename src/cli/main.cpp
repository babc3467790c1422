// kestal-cli: the headless front end.
#include <CLI/CLI.hpp>

#include "cli/commands.h"

int main(int argc, char** argv) {
  CLI::App app{"kestal-cli: move data between this computer and a satellite receiver"};
  app.require_subcommand(1);
  int exitCode = 0;
  kestal::cli::AddImageCommands(app, exitCode);
  kestal::cli::AddPortsCommand(app, exitCode);
  kestal::cli::AddTransferCommands(app, exitCode);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e);
    return code == 0 ? 0 : 2;  // usage errors always exit 2
  }
  return exitCode;
}

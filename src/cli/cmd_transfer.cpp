// kestal-cli send / receive: the window's transfers, run from a terminal or a script.
#include <cstdio>

#include "cli/commands.h"
#include "cli/port_auto.h"
#include "cli/port_choice.h"
#include "cli/terminal.h"
#include "cli/transfer_session.h"

namespace kestal::cli {
namespace {

// Exit status for a --port that names nothing: the command line itself is wrong.
constexpr int kExitUnknownPort = 2;

int Run(VerbArgs& args) {
  if (!args.modeName.empty()) {
    args.options.mode = args.modeName == "channels" ? MODE_CHANNELS : MODE_SOFTWARE;
  }
  if (args.options.port == kAutoPort) return RunOnAnsweringPort(args.options);
  const auto port = ResolvePort(args.options.port);
  if (!port) {
    std::fprintf(stderr, "Unknown port: %s (see kestal-cli ports)\n", args.options.port.c_str());
    return kExitUnknownPort;
  }
  return RunTransfer(args.options, *port, stderr, IsTerminal(stderr));
}

}  // namespace

int RunSend(VerbArgs& args) {
  args.options.direction = DIR_TO_RECEIVER;
  args.options.mode = ModeFromFileName(args.options.file);
  return Run(args);
}

int RunReceive(VerbArgs& args) {
  args.options.direction = DIR_TO_COMPUTER;
  args.options.mode = MODE_CHANNELS;
  return Run(args);
}

}  // namespace kestal::cli

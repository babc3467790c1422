// kestal-cli send / receive: the window's transfers, run from a terminal or a script.
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>

#include "cli/commands.h"
#include "cli/port_choice.h"
#include "cli/transfer_options.h"
#include "cli/transfer_session.h"

namespace kestal::cli {
namespace {

// Exit status for a --port that names nothing: the command line itself is wrong.
constexpr int kExitUnknownPort = 2;

struct VerbArgs {
  TransferOptions options;
  std::string modeName;  // empty: from the file name
};

constexpr const char* kExitStatusFooter =
    "Status texts go to stderr, one line each; on a terminal a progress bar follows them.\n"
    "Exit status: 0 transfer completed; 1 transfer failed, stopped (SIGINT/SIGTERM) or timed "
    "out, or the port could not be opened; 2 usage error, including a --port that names no "
    "existing path and no discovered port.";

void AddCommonOptions(CLI::App& verb, VerbArgs& args) {
  verb.footer(kExitStatusFooter);
  verb.add_option("--port", args.options.port,
                  "serial device path, or a port name as `kestal-cli ports` lists it")
      ->required();
  verb.add_option("--timeout", args.options.timeoutSeconds,
                  "give up if the receiver sends no request within SECONDS of the wake-up "
                  "(default: wait until stopped)")
      ->check(CLI::PositiveNumber);
  verb.add_flag("--trace", args.options.trace, "print every frame sent and received");
}

int Run(VerbArgs& args) {
  if (!args.modeName.empty()) {
    args.options.mode = args.modeName == "channels" ? MODE_CHANNELS : MODE_SOFTWARE;
  }
  const auto port = ResolvePort(args.options.port);
  if (!port) {
    std::fprintf(stderr, "Unknown port: %s (see kestal-cli ports)\n", args.options.port.c_str());
    return kExitUnknownPort;
  }
  return RunTransfer(args.options, *port, stderr, isatty(STDERR_FILENO) != 0);
}

}  // namespace

void AddTransferCommands(CLI::App& app, int& exitCode) {
  auto sendArgs = std::make_shared<VerbArgs>();
  CLI::App* send = app.add_subcommand(
      "send", "Send a software image (.ird) or a channel list (.fdu) to the receiver");
  AddCommonOptions(*send, *sendArgs);
  send->add_option("--mode", sendArgs->modeName,
                   "software or channels (default: channels for a name ending in fdu/FDU)")
      ->transform(CLI::IsMember({"software", "channels"}, CLI::ignore_case));
  send->add_option("FILE", sendArgs->options.file, "the file to send")->required();
  send->callback([sendArgs, &exitCode] {
    sendArgs->options.direction = DIR_TO_RECEIVER;
    sendArgs->options.mode = ModeFromFileName(sendArgs->options.file);
    exitCode = Run(*sendArgs);
  });

  auto receiveArgs = std::make_shared<VerbArgs>();
  CLI::App* receive =
      app.add_subcommand("receive", "Read the receiver's channel list into a file");
  AddCommonOptions(*receive, *receiveArgs);
  receive->add_option("FILE", receiveArgs->options.file,
                      "the file to write (replaced only after a complete transfer)")
      ->required();
  receive->callback([receiveArgs, &exitCode] {
    receiveArgs->options.direction = DIR_TO_COMPUTER;
    receiveArgs->options.mode = MODE_CHANNELS;
    exitCode = Run(*receiveArgs);
  });
}

}  // namespace kestal::cli

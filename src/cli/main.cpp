// kestal-cli: the headless front end. The one place that knows the option parser: it declares
// every verb and option, fills the verbs' plain argument structs and runs the chosen verb.
// main() itself is the platform's (main_posix.cpp; main_win32.cpp takes the UTF-16 command line).
#include <CLI/CLI.hpp>
#include <map>
#include <memory>

#include <cstdio>

#include "cli/commands.h"
#include "common/license.h"
#include "common/printable.h"

namespace kestal::cli {
namespace {

constexpr const char* kExitStatusFooter =
    "Status texts go to stderr, one line each; on a terminal a progress bar follows them.\n"
    "Exit status: 0 transfer completed; 1 transfer failed, stopped by a signal (SIGINT, "
    "SIGTERM, SIGHUP, SIGQUIT, ...) or timed out, or the port could not be opened; 2 usage "
    "error, including a --port that names no existing path and no discovered port.";

#ifdef _WIN32
constexpr const char* kPortHelp = "COM name, or any name `kestal-cli ports` lists";
#else
constexpr const char* kPortHelp =
    "serial device path, any name `kestal-cli ports` lists, or auto (the first port whose "
    "receiver asks)";
#endif

const CLI::Validator kSecondsText(
    [](std::string& text) -> std::string {
      double seconds = 0;
      if (!CLI::detail::lexical_cast(text, seconds) || !(seconds > 0)) {
        return "'" + text +
               "' is no time to wait: give seconds above 0, or leave --timeout out "
               "to wait until stopped";
      }
      return "";
    },
    "SECONDS");

const CLI::Validator kRequestValueText(
    [](std::string& text) -> std::string {
      return ParseRequestValue(text) ? ""
                                     : "'" + text + "' is not a 32-bit number (decimal or 0x hex)";
    },
    "UINT32");

// Each callback runs after parsing, when the function that added it has long returned: the
// arguments live in shared structs.
void AddImageCommands(CLI::App& app, int& exitCode) {
  auto packArgs = std::make_shared<PackArgs>();
  CLI::App* pack = app.add_subcommand("pack", "Pack a channel list into a channel image");
  pack->add_option("--request-value", packArgs->requestText,
                   "Request value for the image header, decimal or 0x hex (default 0)")
      ->check(kRequestValueText);
  pack->add_option("FILE", packArgs->file, "Channel list to pack")->required();
  pack->add_option("IMAGE", packArgs->image, "Image file to write")->required();
  pack->callback([packArgs, &exitCode] { exitCode = RunPack(*packArgs); });

  auto inspectArgs = std::make_shared<InspectArgs>();
  CLI::App* inspect = app.add_subcommand("inspect", "Check a channel image and list its blocks");
  inspect->add_option("IMAGE", inspectArgs->image, "Image file to check")->required();
  inspect->add_option("--extract", inspectArgs->extractTo,
                      "Write the channel list the image holds to this file");
  inspect->callback([inspectArgs, &exitCode] { exitCode = RunInspect(*inspectArgs); });
}

// Where ports are looked for on Linux (for tests and odd systems); Windows asks SetupAPI and
// the registry, so it offers none of these.
void AddDiscoveryRootOptions([[maybe_unused]] CLI::App& command,
                             [[maybe_unused]] DiscoveryRoots& roots) {
#ifndef _WIN32
  command.add_option("--sysfs-tty", roots.sysClassTty, "sysfs tty class directory")
      ->capture_default_str();
  command.add_option("--dev-dir", roots.devDir, "device node directory")->capture_default_str();
  command.add_option("--virtual-dir", roots.virtualPortDir,
                     "virtual port directory (default: the per-user one)");
#endif
}

void AddPortsCommand(CLI::App& app, int& exitCode) {
  CLI::App* command = app.add_subcommand(
      "ports",
      "List serial ports, one a line: friendly name, device path, /dev/serial/by-id path, USB "
      "vendor:product, serial number (tab-separated, - where unknown)");
  auto roots = std::make_shared<DiscoveryRoots>();
  AddDiscoveryRootOptions(*command, *roots);
  command->callback([roots, &exitCode] { exitCode = ListPorts(*roots); });
}

void AddCommonOptions(CLI::App& verb, VerbArgs& args) {
  verb.footer(kExitStatusFooter);
  verb.add_option("--port", args.options.port, kPortHelp)->required();
  verb.add_option("--timeout", args.options.timeoutSeconds,
                  "give up if the receiver sends no request within SECONDS of the wake-up "
                  "(default: wait until stopped)")
      ->check(kSecondsText);
  verb.add_flag("--trace", args.options.trace, "print every frame sent and received");
  const std::map<std::string, ProgressStyle> styles{{"auto", ProgressStyle::Auto},
                                                    {"plain", ProgressStyle::Plain},
                                                    {"json", ProgressStyle::Json}};
  verb.add_option("--progress", args.options.progress,
                  "auto: a bar on a terminal, else a line every 10 % or 5 s; plain: those lines "
                  "always; json: one JSON object per line on stdout (see the man page)")
      ->transform(CLI::CheckedTransformer(styles, CLI::ignore_case).description(""))
      ->type_name("auto|plain|json");
  verb.add_flag("-q,--quiet", args.options.quiet, "print errors only");
  verb.add_option("--record", args.options.recordPath,
                  "record every byte each way with its time into FILE (see kestal-cli trace)");
}

void AddTransferCommands(CLI::App& app, int& exitCode) {
  auto sendArgs = std::make_shared<VerbArgs>();
  CLI::App* send = app.add_subcommand(
      "send", "Send a software image (.ird) or a channel list (.fdu) to the receiver");
  AddCommonOptions(*send, *sendArgs);
  send->add_option("--mode", sendArgs->modeName,
                   "software or channels (default: channels for a name ending in fdu/FDU)")
      ->transform(CLI::IsMember({"software", "channels"}, CLI::ignore_case));
  send->add_option("FILE", sendArgs->options.file, "the file to send")->required();
  send->callback([sendArgs, &exitCode] { exitCode = RunSend(*sendArgs); });

  auto receiveArgs = std::make_shared<VerbArgs>();
  CLI::App* receive = app.add_subcommand("receive", "Read the receiver's channel list into a file");
  AddCommonOptions(*receive, *receiveArgs);
  receive
      ->add_option("FILE", receiveArgs->options.file,
                   "the file to write (replaced only after a complete transfer)")
      ->required();
  receive->callback([receiveArgs, &exitCode] { exitCode = RunReceive(*receiveArgs); });
}

void AddStationCommand(CLI::App& app, int& exitCode) {
  auto args = std::make_shared<StationArgs>();
  CLI::App* station = app.add_subcommand(
      "station",
      "Serve FILE to every receiver reset on any of the ports, many at once, until "
      "stopped (Linux)");
  station->footer(
      "Exit status: 0 every unit served completed; 1 a unit failed or was stopped, the file "
      "cannot be served or the log cannot be written; 2 usage error.");
  station->add_option("FILE", args->file, "the file to send")->required();
  station
      ->add_option("--mode", args->modeName,
                   "software or channels (default: channels for a name ending in fdu/FDU)")
      ->transform(CLI::IsMember({"software", "channels"}, CLI::ignore_case));
  station
      ->add_option("--ports", args->ports,
                   "auto (every USB serial and virtual port, as they come and go), or devices "
                   "and port names separated by commas")
      ->capture_default_str();
  station->add_option("--log", args->logPath,
                      "append a JSON line per unit served to this file (see the man page)");
  station
      ->add_option("--progress", args->progress,
                   "auto: a table of the ports on a terminal, else JSON events; json: one JSON "
                   "object per event on stdout")
      ->transform(CLI::CheckedTransformer(
                      std::map<std::string, ProgressStyle>{{"auto", ProgressStyle::Auto},
                                                           {"json", ProgressStyle::Json}},
                      CLI::ignore_case)
                      .description(""))
      ->type_name("auto|json");
  station->callback([args, &exitCode] { exitCode = RunStation(*args); });
}

void AddDoctorCommand(CLI::App& app, int& exitCode) {
  auto args = std::make_shared<DoctorArgs>();
  CLI::App* command = app.add_subcommand(
      "doctor",
      "Check the ports and what may keep the receiver from answering; exit 1 on a problem");
  command->add_option("--port", args->port,
                      "check this port only, or auto: the USB serial and virtual ports");
  command
      ->add_option("--listen", args->options.listenSeconds,
                   "open the port, send the wake-up burst and say what comes back within "
                   "SECONDS")
      ->check(CLI::PositiveNumber);
  command->add_flag("--json", args->json, "the report as one JSON document");
  doctor::DoctorOptions& options = args->options;
  AddDiscoveryRootOptions(*command, options.discovery);
#ifndef _WIN32
  command->add_option("--proc-dir", options.procDir, "process directory")->capture_default_str();
  command->add_option("--etc-dir", options.etcDir, "where passwd and group are read")
      ->capture_default_str();
#endif
  command->callback([args, &exitCode] { exitCode = RunDoctor(*args); });
}

void AddTraceCommand(CLI::App& app, int& exitCode) {
  auto path = std::make_shared<std::string>();
  CLI::App* trace =
      app.add_subcommand("trace", "Show a recording made with --record as the frames on the line");
  trace->add_option("FILE", *path, "the recording")->required();
  trace->callback([path, &exitCode] { exitCode = RunTrace(*path); });
}

}  // namespace

// CLI11 takes a mistyped verb for a stray argument and asks for a subcommand; say what it is.
bool IsUnknownVerb(const CLI::App& app, int argc, char** argv) {
  if (argc < 2 || argv[1][0] == '-') return false;
  for (const CLI::App* verb : app.get_subcommands({})) {
    if (verb->get_name() == argv[1]) return false;
  }
  return true;
}

int RunCommandLine(int argc, char** argv) {
  CLI::App app{"kestal-cli: move data between this computer and a satellite receiver"};
  // Options are "-" and "--" only, on every platform: a file's path may start with "/" on
  // Windows too (/data/fw.ird is on the current drive). The verbs inherit this when added.
  app.allow_windows_style_options(false);
  app.set_version_flag("--version", std::string("kestal-cli ") + KESTAL_VERSION + "\n" +
                                        kCopyrightLine + "\n" + kLicenseLine);
  app.require_subcommand(1);
  int exitCode = 0;
  AddImageCommands(app, exitCode);
  AddPortsCommand(app, exitCode);
  AddTransferCommands(app, exitCode);
  AddStationCommand(app, exitCode);
  AddTraceCommand(app, exitCode);
  AddDoctorCommand(app, exitCode);
  if (IsUnknownVerb(app, argc, argv)) {
    std::fprintf(stderr,
                 "kestal-cli: unknown command '%s': use send, receive, station, ports, doctor, "
                 "trace, pack or inspect "
                 "(kestal-cli --help).\n",
                 Printable(argv[1]).c_str());
    return 2;
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e);
    return code == 0 ? 0 : 2;  // usage errors always exit 2
  }
  return exitCode;
}

}  // namespace kestal::cli

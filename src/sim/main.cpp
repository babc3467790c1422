// kestal-sim: a virtual receiver on a pseudo-terminal, for demos, tests and work without the
// set-top box. Prints the device path first, announces it as a virtual port, plays one role.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <climits>
#include <cstring>
#include <functional>
#include <iostream>

#include "common/license.h"
#include "common/std_streams.h"
#include "ports/virtual_ports.h"
#include "recording/recording.h"
#include "sim/pty_endpoint.h"
#include "sim/replay.h"
#include "sim/session.h"

namespace {

using kestal::sim::DownloadMode;
using kestal::sim::SimOptions;

// The announced link and where it leads, for the signal handler; fixed storage because only
// async-signal-safe calls may touch it there.
char announcedLinkPath[PATH_MAX] = {};
char announcedDevice[PATH_MAX] = {};

extern "C" void RemoveLinkAndExit(int signal) {
  // A newer emulator may have taken the name since: its link is not ours to remove.
  char target[PATH_MAX] = {};
  if (announcedLinkPath[0] != '\0' && readlink(announcedLinkPath, target, sizeof target - 1) > 0 &&
      strcmp(target, announcedDevice) == 0) {
    unlink(announcedLinkPath);
  }
  _exit(128 + signal);
}

void InstallSignalHandlers() {
  struct sigaction action {};
  action.sa_handler = RemoveLinkAndExit;
  sigemptyset(&action.sa_mask);
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
}

struct CommandLine {
  SimOptions options;
  bool background = false;
  std::string name;
  std::string mode;
  double timeoutSeconds = 60;
  uint32_t silenceAfter = 0;
  uint32_t hangupAfter = 0;
  std::string replayPath;
};

void AddCommonOptions(CLI::App& app, CommandLine& cl) {
  SimOptions& o = cl.options;
  app.add_option("--name", cl.name, "Virtual port name (default sim-<pid>)");
  app.add_flag("--background", cl.background,
               "Go on in the background: return (printing the device path) once the port is "
               "announced");
  app.add_option("--baud", o.baud,
                 "Pace every byte written at BAUD/10 bytes per second (0 = unpaced)");
  app.add_option("--timeout", cl.timeoutSeconds,
                 "Give up after this many seconds without progress from the tool")
      ->capture_default_str();
  app.add_option("--reply-timeout", o.replyTimeoutMs, "Milliseconds to wait for one answer")
      ->capture_default_str();
  app.add_option("--attempts", o.attempts, "Tries per request or block before it is a fault")
      ->capture_default_str()
      ->check(CLI::Range(1u, 1000u));
  app.add_option("--request-value", o.requestValue, "32-bit payload of CMD_REQUEST (0x.. allowed)")
      ->capture_default_str();
  app.add_option("--idle-before-request", o.idleBeforeRequestMs,
                 "Milliseconds between the wake-up burst and CMD_REQUEST");
  app.add_option("--hold-ms", o.holdMs,
                 "Hold bytes sent up to N ms, as a USB serial adapter's latency timer does");
  app.add_flag("--block-request-before-request", o.blockRequestBeforeRequest,
               "Send a CMD_BLOCK_REQUEST before CMD_REQUEST; the tool must not answer it");
  app.add_flag("--finish-before-request", o.finishBeforeRequest,
               "Download: send CMD_FINISH after the burst, never CMD_REQUEST");
  app.add_option("--repeat-answer", o.repeatAnswer,
                 "Upload: answer the N-th block request twice (the copy arrives late)");
  app.add_option("--garbage", o.garbageBytes,
                 "Answer the wake-up burst with N random bytes that never form a frame, as a "
                 "receiver at another line speed does, instead of the request");
  app.add_option("--request-at-block", o.requestAtBlock,
                 "Upload: send a stray CMD_REQUEST before answering the N-th block request");
  app.add_option("--claim-size", o.claimSize,
                 "Upload: answer the size query with N bytes, whatever is served");
  app.add_option(
      "--silence-after", cl.silenceAfter,
      "After N blocks stop sending but keep the port open; exit 0 when the tool closes it");
  app.add_option("--hangup-after", cl.hangupAfter, "After N blocks close the port and exit 0");
  app.add_flag("--hangup-after-request", o.hangupAfterRequest,
               "After the first CMD_REQUEST close the port as the tool's next bytes arrive, "
               "unread, and exit 0");
  app.add_flag("--trace", o.trace, "Print every frame in hex on stderr");
  app.add_option("--replay", cl.replayPath,
                 "Instead of a role, play the receiver's side of a recording made with "
                 "kestal-cli --record");
  app.add_option("--seed", o.faults.seed, "Seed of the fault injection")->capture_default_str();
  app.add_option("--noise", o.faults.noiseBytes, "Random non-sync bytes before each frame sent");
  app.add_option("--false-start", o.faults.falseStart,
                 "The first N letters of the sync before each frame sent, as a false start")
      ->check(CLI::Range(1u, 4u));
  app.add_option("--bad-sum-every", o.faults.badSumEvery, "Every K-th frame sent has a wrong sum");
  app.add_option("--corrupt-rate", o.faults.corruptRate, "Chance of a frame sent with a wrong sum")
      ->check(CLI::Range(0.0, 1.0));
  app.add_option("--drop-every", o.faults.dropEvery, "Every K-th frame is not sent");
  app.add_option("--drop-rate", o.faults.dropRate, "Chance of a frame not being sent")
      ->check(CLI::Range(0.0, 1.0));
  app.add_option("--garble-rate", o.faults.garbleRate,
                 "Chance of one byte of a frame sent (sync, header, payload or sum) being changed")
      ->check(CLI::Range(0.0, 1.0));
  app.add_option("--in-drop-rate", o.faults.inDropRate,
                 "Chance of a frame from the tool being ignored, as if lost on the line")
      ->check(CLI::Range(0.0, 1.0));
  app.add_option("--in-corrupt-rate", o.faults.inCorruptRate,
                 "Chance of a frame from the tool being taken as damaged (bad sum)")
      ->check(CLI::Range(0.0, 1.0));
}

CLI::App* AddDownloadCommand(CLI::App& app, CommandLine& cl) {
  SimOptions& o = cl.options;
  CLI::App* download = app.add_subcommand(
      "download", "The tool sends to the receiver: ask for the data block by block and check it");
  download->add_option("--mode", cl.mode, "software: raw bytes; channels: a channel image")
      ->check(CLI::IsMember({"software", "channels"}))
      ->required();
  download->add_option("--size", o.size,
                       "Software mode: bytes to fetch (default: size of --expect)");
  download
      ->add_option("--expect", o.expectPath,
                   "Compare the data (channels: the unpacked channel list) with this file")
      ->check(CLI::ExistingFile);
  download->add_option("--save", o.savePath, "Write the data (channels: the channel list) here");
  download->add_option("--block-size", o.blockSize, "Bytes per block request")
      ->capture_default_str()
      ->check(CLI::Range(1u, 65535u));
  download->add_flag("--past-end", o.pastEnd,
                     "End with a block request past the data instead of CMD_FINISH; exit 0 if the "
                     "tool does not answer it");
  return download;
}

CLI::App* AddUploadCommand(CLI::App& app, CommandLine& cl) {
  CLI::App* upload = app.add_subcommand(
      "upload", "The tool reads from the receiver: serve a file until the tool's CMD_FINISH");
  upload->add_option("--serve", cl.options.servePath, "The data set to serve")
      ->required()
      ->check(CLI::ExistingFile);
  return upload;
}

// --background: the emulator goes on in a child of its own session; this process waits for the
// child's announcement, prints it and exits 0 (or with the child's status if it never came).
// Returns in the child, with the descriptor its announcement goes to.
int Detach() {
  int announcement[2];
  if (pipe2(announcement, O_CLOEXEC) != 0) return STDOUT_FILENO;
  const pid_t child = fork();
  if (child < 0) return STDOUT_FILENO;
  if (child == 0) {
    close(announcement[0]);
    setsid();
    // A caller reading our stdout to its end, as $(...) does, must not wait for the emulator.
    const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null >= 0) dup2(null, STDOUT_FILENO);
    return announcement[1];
  }
  close(announcement[1]);
  std::string line;
  char c = 0;
  while (read(announcement[0], &c, 1) == 1 && c != '\n') line += c;
  if (line.empty()) {
    int status = 0;
    waitpid(child, &status, 0);
    _exit(WIFEXITED(status) ? WEXITSTATUS(status) : 1);
  }
  std::cout << line << std::endl;
  _exit(0);
}

void Announce(int fd, const std::string& devicePath) {
  const std::string line = devicePath + "\n";
  if (fd == STDOUT_FILENO) {
    std::cout << line << std::flush;
    return;
  }
  (void)!write(fd, line.data(), line.size());
  close(fd);
}

using Role = std::function<int(const kestal::sim::SimSession&)>;

// Runs the role on a fresh pseudo-terminal announced as a virtual port.
int RunOnPseudoTerminal(const CommandLine& cl, const Role& role) {
  const int announcement = cl.background ? Detach() : STDOUT_FILENO;
  std::string error;
  auto endpoint = kestal::sim::PtyEndpoint::Create(&error);
  if (!endpoint) {
    std::cerr << "sim: " << error << std::endl;
    return 1;
  }
  endpoint->SetBaud(cl.options.baud);
  endpoint->SetHold(cl.options.holdMs);
  const std::string name = cl.name.empty() ? "sim-" + std::to_string(getpid()) : cl.name;
  const std::string linkPath = kestal::RegisterVirtualPort(name, endpoint->SlavePath(), &error);
  if (linkPath.empty()) {
    std::cerr << "sim: virtual port not announced: " << error << std::endl;
  } else {
    std::strncpy(announcedLinkPath, linkPath.c_str(), sizeof announcedLinkPath - 1);
    std::strncpy(announcedDevice, endpoint->SlavePath().c_str(), sizeof announcedDevice - 1);
  }
  InstallSignalHandlers();
  Announce(announcement, endpoint->SlavePath());

  kestal::sim::SimSession session{*endpoint, cl.options, std::cerr,
                                  [&] { endpoint->ReleaseOwnSlave(); },
                                  [&] { return endpoint->AwaitClientReturn(); }};
  const int status = role(session);
  endpoint->CloseLink();
  if (!linkPath.empty()) kestal::UnregisterVirtualPort(linkPath, endpoint->SlavePath());
  return status;
}

// --replay instead of a role: the recording is read whole first, so nothing of a damaged one
// is ever played.
int Replay(const CommandLine& cl, const CLI::App& app) {
  if (!app.get_subcommands().empty() || cl.replayPath.empty()) {
    std::cerr << "sim: give one role (download or upload) or --replay FILE" << std::endl;
    return 2;
  }
  const kestal::recording::ReadResult read = kestal::recording::ReadRecording(cl.replayPath);
  if (!read.error.empty()) {
    std::cerr << "sim: " << cl.replayPath << ": " << read.error << "; nothing replayed"
              << std::endl;
    return 2;
  }
  return RunOnPseudoTerminal(cl, [&read](const kestal::sim::SimSession& session) {
    return kestal::sim::RunReplayRole(session, read.recording);
  });
}

}  // namespace

int main(int argc, char** argv) {
  kestal::OpenMissingStdStreams();
  CommandLine cl;
  CLI::App app{
      "kestal-sim: a virtual receiver on a pseudo-terminal. Prints the device path as the first "
      "line on stdout and announces it as virtual port NAME; exits 0 when the tool behaved as "
      "expected, 1 on a fault (reported on stderr).\n"
      "  kestal-sim [options] download --mode software|channels [--size N] [--expect FILE]\n"
      "             [--save FILE] [--block-size N] [--past-end]\n"
      "  kestal-sim [options] upload --serve FILE\n"
      "  kestal-sim [options] --replay RECORDING\n"
      "Common options may stand before or after the role."};
  app.set_version_flag("--version", std::string("kestal-sim ") + KESTAL_VERSION + "\n" +
                                        kestal::kCopyrightLine + "\n" + kestal::kLicenseLine);
  app.require_subcommand(0, 1);
  app.fallthrough();
  AddCommonOptions(app, cl);
  CLI::App* download = AddDownloadCommand(app, cl);
  AddUploadCommand(app, cl);
  CLI11_PARSE(app, argc, argv);

  SimOptions& o = cl.options;
  o.mode = cl.mode == "channels" ? DownloadMode::Channels : DownloadMode::Software;
  o.timeoutMs = static_cast<uint64_t>(cl.timeoutSeconds * 1000.0);
  if (!cl.replayPath.empty() || app.get_subcommands().empty()) return Replay(cl, app);
  if (app.count("--silence-after") > 0) o.silenceAfterBlocks = cl.silenceAfter;
  if (app.count("--hangup-after") > 0) o.hangupAfterBlocks = cl.hangupAfter;
  const bool isDownload = download->parsed();
  if (isDownload && o.mode == DownloadMode::Software && !o.size && o.expectPath.empty()) {
    std::cerr << "sim: download --mode software needs --size or --expect" << std::endl;
    return 2;
  }
  return RunOnPseudoTerminal(
      cl, isDownload ? kestal::sim::RunDownloadRole : kestal::sim::RunUploadRole);
}

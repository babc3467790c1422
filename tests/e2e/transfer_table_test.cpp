// kestal-cli against kestal-sim, one row per case: what the tool must print and return, and
// what the emulator (which checks every byte the tool sends) must report. Rows where the tool
// misbehaves on purpose check the emulator itself: it must fail and say why.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <memory>
#include <thread>

#include "support/sim_process.h"

namespace kestal::testing {
namespace {

const std::string kWaiting = "Waiting For Request. Reset SetTop Box.";
const std::string kDownloading = "Downloading Processing...";
const std::string kUploading = "Uploading...";
const std::string kComplete = "Transfer complete !";
const std::string kInterrupted = "Interrupted by user!";
const std::string kPacking = "Packing the channel list...";

struct Row {
  std::string name;
  const char* fileName = "data.ird";    // in the scratch directory, filled with TestBytes
  std::optional<size_t> fileSize = {};  // none: the file does not exist
  // Arguments, with @file, @other (the file with its middle byte changed), @target (a file
  // holding older data), @port (the emulator's port name), @recording (a file beside them).
  // No emulator when `sim` is empty.
  std::vector<std::string> sim = {};
  std::vector<std::string> cli = {};
  int cliExit = 0;
  std::vector<std::string> texts = {};  // the tool's status lines; not checked for usage errors
  int simExit = 0;
  std::string simReport = {};  // a part of what the emulator wrote on stderr
  int signal = 0;              // sent to the tool once the emulator traced `signalAfter`
  std::string signalAfter = {};
  int pauseMs = 0;  // the tool stopped (SIGSTOP) this long once the emulator traced `signalAfter`
  bool holdPort = false;  // a first tool with the same arguments holds the port meanwhile
  rlim_t fileSizeLimit = RLIM_INFINITY;
  const char* redirect = "";  // the tool's shell redirections, e.g. its standard streams closed
  int stalled = 0;            // 1 or 2: that stream is a pipe read only once the emulator has ended
  std::string stderrHas = {};  // besides `texts`, which leave out the plain progress lines
  std::string stdoutHas = {};
  bool jsonOut = false;               // stdout must be JSON events ending with the outcome
  size_t maxJsonProgress = SIZE_MAX;  // at most this many progress events
  bool runInDir = false;              // the tool runs in the scratch directory
  // The tool's run is recorded, the recording traced (which must show `traceHas`) and replayed
  // by a second emulator against the tool run again, which must end as the first did.
  bool replay = false;
  std::string traceHas = {};
};

void PrintTo(const Row& row, std::ostream* os) { *os << row.name; }
std::string RowName(const ::testing::TestParamInfo<Row>& param) { return param.param.name; }

// The files a row works on, and its arguments with the placeholders filled in.
struct RowFiles {
  ScratchDir dir;
  ScratchDir records;  // beside `dir`, which must hold nothing new after a row
  std::vector<uint8_t> data;
  std::vector<uint8_t> old = TestBytes(300, 99);

  explicit RowFiles(const Row& row) {
    if (row.fileSize) {
      data = TestBytes(*row.fileSize, static_cast<uint32_t>(*row.fileSize));
      WriteBytes(dir.File(row.fileName), data);
      std::vector<uint8_t> other = data;
      if (!other.empty()) other[other.size() / 2] ^= 0xFF;
      WriteBytes(dir.File("other"), other);
    }
    WriteBytes(dir.File("target.fdu"), old);
    WriteBytes(dir.File("readonly.fdu"), old);
    chmod(dir.File("readonly.fdu").c_str(), 0444);
  }
  std::vector<std::string> Fill(const Row& row, std::vector<std::string> args) const {
    for (auto& arg : args) {
      if (arg == "@file") arg = dir.File(row.fileName);
      if (arg == "@other") arg = dir.File("other");
      if (arg == "@target") arg = dir.File("target.fdu");
      if (arg == "@readonly") arg = dir.File("readonly.fdu");
      if (arg == "@dir") arg = dir.Path().string();
      if (arg == "@port") arg = kSimPort;
      if (arg == "@recording") arg = Recording();
    }
    return args;
  }
  std::string Recording() const { return records.File("session.rec"); }
};

std::vector<std::string> Join(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

std::vector<std::string> Send(const std::vector<std::string>& options = {}) {
  return Join({"send", "--port", "@port"}, Join(options, {"@file"}));
}
std::vector<std::string> Receive(const std::vector<std::string>& options = {}) {
  return Join({"receive", "--port", "@port"}, Join(options, {"@target"}));
}
std::vector<std::string> Expect(const char* mode, const std::vector<std::string>& options = {}) {
  return Join({"download", "--mode", mode, "--expect", "@file"}, options);
}
std::vector<std::string> Serve(const std::vector<std::string>& faults = {}) {
  return Join(faults, {"upload", "--serve", "@file"});
}

const std::vector<std::string> kSent = {kWaiting, kDownloading, kComplete};
// The emulator checks that the image header carries it.
const std::vector<std::string> kRequestValue = {"--request-value", "0x8badf00d"};
// A channel list is packed before the receiver is woken, and only then is it to be reset.
const std::vector<std::string> kSentChannels = {kPacking, kWaiting, kDownloading, kComplete};
const std::vector<std::string> kReceived = {kWaiting, kUploading, kComplete};
// Traced by the emulator once the receiving tool has the first block: it is past the size query.
const char* const kSecondBlockAsked = "< CMD_BLOCK_REQUEST 04";

// A receive that `signal` stops once its second block has been asked for. With the standard
// streams closed (`redirect`) there are no status lines to check.
Row StoppedReceive(const char* name, int signal, const char* redirect = "") {
  Row row{.name = name,
          .fileName = "data.fdu",
          .fileSize = 3000,
          .sim = Serve({"--baud", "9600", "--trace"}),
          .cli = Receive(),
          .cliExit = 1,
          .texts = {kWaiting, kUploading, kInterrupted},
          .simExit = 1,
          .simReport = "the tool closed the port before CMD_FINISH",
          .signal = signal,
          .signalAfter = kSecondBlockAsked,
          .redirect = redirect};
  if (*redirect != '\0') row.texts.clear();
  return row;
}

// Receives over a line that loses or damages 2 % of the frames each way complete whole (the
// emulator reports the frames it spoiled: 47 blocks meet at least one fault), and so does one
// whose tool is stopped (Ctrl-Z) for a second in the middle of an answer.
std::vector<Row> LossyLineRows() {
  const std::vector<std::string> faults = {"--drop-rate",    "0.02", "--corrupt-rate",    "0.02",
                                           "--in-drop-rate", "0.02", "--in-corrupt-rate", "0.02"};
  std::vector<Row> rows;
  for (int seed = 1; seed <= 20; ++seed) {
    rows.push_back(Row{.name = "Seed" + std::to_string(seed),
                       .fileName = "data.fdu",
                       .fileSize = 12000,
                       .sim = Serve(Join(faults, {"--seed", std::to_string(seed)})),
                       .cli = Receive(),
                       .texts = kReceived,
                       .simReport = "frames lost or damaged on the line"});
  }
  rows.push_back(Row{.name = "ReceivePausedForASecond",
                     .fileName = "data.fdu",
                     .fileSize = 3000,
                     .sim = Serve({"--baud", "9600", "--trace"}),
                     .cli = Receive(),
                     .texts = kReceived,
                     .simReport = "served 3000 of 3000 bytes",
                     .signalAfter = kSecondBlockAsked,
                     .pauseMs = 1000});
  return rows;
}

// A receiver that stops answering after `blocks` blocks (0: at the size query).
Row SilentReceiver(const char* name, const char* blocks, bool receive) {
  Row row{.name = name,
          .fileSize = 50000,
          .sim = Join({"--silence-after", blocks}, Expect("software")),
          .cli = Send(),
          .cliExit = 1,
          .texts = {kWaiting, kDownloading, "External Error Occurred!",
                    "The receiver stopped answering for about 5 s: check the cable and that the "
                    "receiver is on, then start again."},
          .simReport = std::string("went silent after ") + blocks + " blocks; the tool closed"};
  if (receive) {
    row.fileName = "data.fdu";
    row.sim = Serve({"--silence-after", blocks});
    row.cli = Receive();
    row.texts[1] = kUploading;
  }
  return row;
}

const std::string kFileOpenError = "Error : File open error.";

// A receive into `target` refused for `reason` before the receiver is woken.
Row RefusedTarget(const char* name, const char* target, const std::string& reason) {
  return Row{.name = name,
             .fileName = "data.fdu",
             .fileSize = 100,
             .sim = {"--timeout", "1", "upload", "--serve", "@file"},
             .cli = {"receive", "--port", "@port", target},
             .cliExit = 1,
             .texts = {kFileOpenError, "Cannot write " + std::string(target) + ": " + reason},
             .simExit = 1,
             .simReport = "no wake-up burst"};
}

const char* const kProgressLine = "Progress: ";

std::vector<std::string> StatusLines(const ChildProcess& cli) {
  std::vector<std::string> lines = cli.Lines(Stream::Err);
  std::erase_if(lines, [](const std::string& line) { return line.rfind(kProgressLine, 0) == 0; });
  return lines;
}

// The tool run by a shell that applies the row's redirections first.
ChildProcess StartTool(const Row& row, const std::vector<std::string>& args,
                       const ChildOptions& options, const std::string& fifo) {
  std::string redirect = row.redirect;
  if (row.stalled != 0) redirect = std::to_string(row.stalled) + ">" + fifo;
  if (redirect.empty()) return ChildProcess(CliPath(), args, options);
  return ChildProcess("/bin/sh", Join({"-c", "exec \"$0\" \"$@\" " + redirect, CliPath()}, args),
                      options);
}

// Each line of `text` a JSON object (strict UTF-8) with the documented fields, every status of a
// transfer among them; the last the outcome.
bool JsonEventsEndWith(const std::string& text, int exitStatus, size_t maxProgress) {
  const ScratchDir dir;
  WriteBytes(dir.File("events"), std::vector<uint8_t>(text.begin(), text.end()));
  const char* check =
      "import json, sys\n"
      "ev = [json.loads(line) for line in open(sys.argv[1], encoding='utf-8')]\n"
      "keys = {'phase', 'status', 'bytes_done', 'bytes_total', 'rate', 'elapsed'}\n"
      "assert all(keys <= set(e) for e in ev)\n"
      "assert 0 < sum(e['phase'] == 'progress' for e in ev) <= int(sys.argv[3])\n"
      "statuses = [e['status'] for e in ev if e['phase'] == 'status']\n"
      "assert statuses[0].startswith('Waiting') and statuses[-1] in ('Transfer complete !', '') "
      "or ev[-1]['exit_status'] != 0\n"
      "assert ev[-1]['phase'] == 'outcome' and ev[-1]['exit_status'] == int(sys.argv[2])\n";
  ChildProcess python(
      "/usr/bin/python3",
      {"-c", check, dir.File("events"), std::to_string(exitStatus), std::to_string(maxProgress)});
  return python.Wait() == 0;
}

bool TraceShows(const std::string& recording, const std::string& text) {
  ChildProcess trace(CliPath(), {"trace", recording});
  const bool shown = trace.Wait() == 0 && trace.Output(Stream::Out).find(text) != std::string::npos;
  EXPECT_TRUE(shown) << trace.Output(Stream::Out) << trace.Output(Stream::Err);
  return shown;
}

// The row's recording traced and replayed; `texts` are the recorded run's status lines. The
// replayed run is recorded too: its trace shows the same fault, at the same pace.
void CheckReplay(const Row& row, const RowFiles& setup, std::vector<std::string> cliArgs,
                 const std::vector<std::string>& texts) {
  const std::string recording = setup.Recording();
  EXPECT_TRUE(TraceShows(recording, row.traceHas));
  Sim replay({"--replay", recording});
  ASSERT_FALSE(replay.Device().empty()) << replay.Process().Output(Stream::Err);
  cliArgs[2] = recording + ".again";
  ChildProcess again(CliPath(), cliArgs, replay.ToolOptions());
  EXPECT_EQ(again.Wait(), row.cliExit) << again.Output(Stream::Err);
  EXPECT_EQ(StatusLines(again), texts);
  EXPECT_EQ(replay.Process().Wait(), 0) << replay.Process().Output(Stream::Err);
  EXPECT_TRUE(TraceShows(cliArgs[2], row.traceHas));
  const bool replaced = cliArgs[0] == "receive" && row.cliExit == 0;
  EXPECT_EQ(ReadBytes(setup.dir.File("target.fdu")), replaced ? setup.data : setup.old);
}

class TransferTable : public ::testing::TestWithParam<Row> {};

TEST_P(TransferTable, Row) {
  const Row& row = GetParam();
  const RowFiles setup(row);
  const std::vector<std::string> before = setup.dir.Entries();
  std::unique_ptr<Sim> sim;
  ChildOptions options{{"XDG_RUNTIME_DIR=" + setup.dir.Path().string()}};
  if (!row.sim.empty()) {
    sim = std::make_unique<Sim>(setup.Fill(row, row.sim));
    ASSERT_FALSE(sim->Device().empty()) << sim->Process().Output(Stream::Err);
    options = sim->ToolOptions();
  }
  options.fileSizeLimit = row.fileSizeLimit;
  if (row.runInDir) options.workingDir = setup.dir.Path().string();
  std::vector<std::string> cliArgs = setup.Fill(row, row.cli);
  if (row.replay) cliArgs.insert(cliArgs.begin() + 1, {"--record", setup.Recording()});
  std::unique_ptr<ChildProcess> holder;
  if (row.holdPort) {
    holder = std::make_unique<ChildProcess>(CliPath(), cliArgs, options);
    ASSERT_TRUE(holder->WaitForLine(Stream::Err, kWaiting, 10s));
  }
  const ScratchDir pipeDir;  // the stalled stderr's FIFO, held open but not read meanwhile
  const std::string fifo = pipeDir.File("stderr");
  const int fifoFd = row.stalled != 0 && mkfifo(fifo.c_str(), 0600) == 0
                         ? open(fifo.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC)
                         : -1;
  ChildProcess cli = StartTool(row, cliArgs, options, fifo);
  if (row.signal != 0 || row.pauseMs != 0) {
    ASSERT_TRUE(sim->Process().WaitForLine(Stream::Err, row.signalAfter, 10s));
  }
  if (row.signal != 0) cli.Signal(row.signal);
  if (row.pauseMs != 0) {
    cli.Signal(SIGSTOP);
    std::this_thread::sleep_for(std::chrono::milliseconds(row.pauseMs));
    cli.Signal(SIGCONT);
  }
  std::string stalledOutput;
  if (row.stalled != 0) {
    // The transfer has to end while nobody reads; then the tool may write the rest and exit.
    EXPECT_EQ(sim->Process().Wait(), row.simExit) << sim->Process().Output(Stream::Err);
    const auto drain = [&] {
      char buffer[4096];
      for (ssize_t n; (n = read(fifoFd, buffer, sizeof buffer)) > 0;) {
        stalledOutput.append(buffer, static_cast<size_t>(n));
      }
    };
    std::atomic<bool> ended = false;
    std::thread reader([&] {
      for (; !ended; std::this_thread::sleep_for(5ms)) drain();
    });
    EXPECT_EQ(cli.Wait(), row.cliExit);
    ended = true;
    reader.join();
    drain();  // what the tool wrote last
    close(fifoFd);
  }

  EXPECT_EQ(cli.Wait(), row.cliExit) << cli.Output(Stream::Err);
  if (row.cliExit != 2) {
    std::vector<std::string> texts = row.texts;
    for (auto& text : texts) {
      for (const auto& [name, value] : {std::pair{"@device", sim ? sim->Device() : ""},
                                        {"@file", setup.Fill(row, {"@file"})[0]},
                                        {"@recording", setup.Recording()},
                                        {"@readonly", setup.Fill(row, {"@readonly"})[0]},
                                        {"@dir", setup.Fill(row, {"@dir"})[0]}}) {
        if (const size_t at = text.find(name); at != std::string::npos)
          text.replace(at, std::string(name).size(), value);
      }
    }
    EXPECT_EQ(StatusLines(cli), texts);
  }
  EXPECT_NE(cli.Output(Stream::Err).find(row.stderrHas), std::string::npos);
  EXPECT_NE(cli.Output(Stream::Out).find(row.stdoutHas), std::string::npos);
  if (row.jsonOut) {
    const std::string events = row.stalled == 1 ? stalledOutput : cli.Output(Stream::Out);
    EXPECT_TRUE(JsonEventsEndWith(events, row.cliExit, row.maxJsonProgress)) << events;
  }
  if (holder) {
    EXPECT_EQ(holder->Wait(), 0) << holder->Output(Stream::Err);
  }
  if (sim) {
    EXPECT_EQ(sim->Process().Wait(), row.simExit) << sim->Process().Output(Stream::Err);
    EXPECT_NE(sim->Process().Output(Stream::Err).find(row.simReport), std::string::npos)
        << sim->Process().Output(Stream::Err);
  }
  // A receive replaces the target only when it completed; nothing else is left behind, except
  // the temporary file of a tool killed outright, which had no chance to remove it.
  const bool replaced = !row.cli.empty() && row.cli[0] == "receive" && row.cliExit == 0;
  EXPECT_EQ(ReadBytes(setup.dir.File("target.fdu")), replaced ? setup.data : setup.old);
  if (row.signal != SIGKILL) {
    EXPECT_EQ(setup.dir.Entries(), before);
  }
  if (row.replay) CheckReplay(row, setup, cliArgs, StatusLines(cli));
}

// Every block edge: one byte, exactly a block, a block and a byte; offsets past 16 bits.
INSTANTIATE_TEST_SUITE_P(
    Send, TransferTable,
    ::testing::Values(Row{.name = "SoftwareOneByte",
                          .fileSize = 1,
                          .sim = Expect("software"),
                          .cli = Send(),
                          .texts = kSent,
                          .simReport = "download ok, 1 bytes"},
                      Row{.name = "SoftwareExactlyOneBlock",
                          .fileSize = 1024,
                          .sim = Expect("software", {"--block-size", "1024"}),
                          .cli = Send(),
                          .texts = kSent,
                          .simReport = "download ok, 1024 bytes"},
                      Row{.name = "SoftwareOneBlockAndOneByte",
                          .fileSize = 1025,
                          .sim = Expect("software", {"--block-size", "1024"}),
                          .cli = Send(),
                          .texts = kSent,
                          .simReport = "download ok, 1025 bytes"},
                      Row{.name = "SoftwareOffsetsBeyond16Bits",
                          .fileSize = 70000,
                          .sim = Expect("software", {"--block-size", "4096"}),
                          .cli = Send(),
                          .texts = kSent,
                          .simReport = "download ok, 70000 bytes"},
                      Row{.name = "SoftwareThroughNoiseAndBadSums",
                          .fileSize = 12000,
                          .sim = Join({"--noise", "24", "--bad-sum-every", "4", "--reply-timeout",
                                       "300", "--attempts", "20"},
                                      Expect("software")),
                          .cli = Send(),
                          .texts = kSent,
                          .simReport = "download ok, 12000 bytes",
                          .replay = true,
                          .traceHas = "sum BAD"},
                      Row{.name = "FalseStartBeforeEveryFrame",
                          .fileSize = 4000,
                          .sim = Join({"--false-start", "1"}, Expect("software")),
                          .cli = Send(),
                          .texts = kSent,
                          .simReport = "download ok, 4000 bytes"},
                      Row{.name = "EarlyBlockRequestIsNotAnswered",
                          .fileSize = 4000,
                          .sim = Join({"--block-request-before-request"}, Expect("software")),
                          .cli = Send(),
                          .texts = kSent,
                          .simReport = "download ok, 4000 bytes"},
                      Row{.name = "ChannelsSmallerThanABlock",
                          .fileName = "data.fdu",
                          .fileSize = 100,
                          .sim = Expect("channels"),
                          .cli = Send(),
                          .texts = kSentChannels,
                          .simReport = "channel list 100 bytes in"},
                      Row{.name = "ChannelsInThreeImageChunks",
                          .fileName = "data.fdu",
                          .fileSize = 70000,
                          .sim = Join(kRequestValue, Expect("channels", {"--block-size", "777"})),
                          .cli = Send(),
                          .texts = kSentChannels,
                          .simReport = "channel list 70000 bytes in"},
                      Row{.name = "ChannelsByTheModeOption",
                          .fileName = "data.bin",
                          .fileSize = 5000,
                          .sim = Expect("channels"),
                          .cli = Send({"--mode", "channels"}),
                          .texts = {kPacking,
                                    "Note: @file does not end in .fdu, as Channels files do.",
                                    kWaiting, kDownloading, kComplete},
                          .simReport = "channel list 5000 bytes in"}),
    RowName);

// 255 and 256 straddle a block; 70000 bytes take 275 blocks, so the sequence number wraps.
INSTANTIATE_TEST_SUITE_P(Receive, TransferTable,
                         ::testing::Values(Row{.name = "OneByte",
                                               .fileName = "data.fdu",
                                               .fileSize = 1,
                                               .sim = Serve(),
                                               .cli = Receive(),
                                               .texts = kReceived,
                                               .simReport = "served 1 of 1 bytes"},
                                           Row{.name = "OneByteShortOfABlock",
                                               .fileName = "data.fdu",
                                               .fileSize = 255,
                                               .sim = Serve(),
                                               .cli = Receive(),
                                               .texts = kReceived,
                                               .simReport = "served 255 of 255 bytes in 1 blocks"},
                                           Row{.name = "ExactlyOneBlockAndTheEmptyNext",
                                               .fileName = "data.fdu",
                                               .fileSize = 256,
                                               .sim = Serve(),
                                               .cli = Receive(),
                                               .texts = kReceived,
                                               .simReport = "served 256 of 256 bytes"},
                                           Row{.name = "SequenceNumberWraps",
                                               .fileName = "data.fdu",
                                               .fileSize = 70000,
                                               .sim = Serve(),
                                               .cli = Receive(),
                                               .texts = kReceived,
                                               .simReport = "served 70000 of 70000 bytes"},
                                           Row{.name = "ThroughNoise",
                                               .fileName = "data.fdu",
                                               .fileSize = 3000,
                                               .sim = Serve({"--noise", "40", "--seed", "7"}),
                                               .cli = Receive(),
                                               .texts = kReceived,
                                               .simReport = "served 3000 of 3000 bytes"},
                                           Row{.name = "TimeoutBoundsOnlyTheFirstRequest",
                                               .fileName = "data.fdu",
                                               .fileSize = 20000,
                                               .sim = Serve({"--baud", "115200"}),
                                               .cli = Receive({"--timeout", "0.5"}),
                                               .texts = kReceived,
                                               .simReport = "served 20000 of 20000 bytes"}),
                         RowName);

INSTANTIATE_TEST_SUITE_P(
    Failure, TransferTable,
    ::testing::Values(
        Row{.name = "RequestPastTheEnd",
            .fileSize = 3000,
            .sim = Expect("software", {"--past-end"}),
            .cli = Send(),
            .cliExit = 1,
            .texts = {kWaiting, kDownloading, "Error : ....."},
            .simReport = "did not answer the request past the end and closed the port"},
        Row{.name = "MissingFile",
            .sim = {"--timeout", "1", "download", "--mode", "software", "--size", "100"},
            .cli = Send(),
            .cliExit = 1,
            .texts = {kFileOpenError, "Cannot read @file: No such file or directory"},
            .simExit = 1,
            .simReport = "no wake-up burst"},
        RefusedTarget("TargetIsADevice", "/dev/null", "not a regular file."),
        RefusedTarget("TargetIsAFolder", "@dir", "it is a folder."),
        RefusedTarget("TargetIsReadOnly", "@readonly", "the file is read-only."),
        Row{.name = "EmptyChannelList",
            .fileName = "data.fdu",
            .fileSize = 0,
            .sim = {"--timeout", "1", "download", "--mode", "channels"},
            .cli = Send(),
            .cliExit = 1,
            .texts = {kPacking, "Error : File open error."},
            .simExit = 1,
            .simReport = "no wake-up burst"},
        Row{.name = "EmptyDataSet",
            .fileName = "data.fdu",
            .fileSize = 0,
            .sim = Serve(),
            .cli = Receive(),
            .cliExit = 1,
            .texts = {kWaiting, kUploading, "Communication error."},
            .simExit = 1,
            .simReport = "the tool closed the port before CMD_FINISH"},
        Row{.name = "HangUpDuringSend",
            .fileSize = 200000,
            .sim = Join({"--hangup-after", "20"}, Expect("software")),
            .cli = Send(),
            .cliExit = 1,
            .texts = {kWaiting, kDownloading, "Error : Port disconnected."},
            .simReport = "hung up after 20 blocks"},
        Row{.name = "HangUpDuringReceive",
            .fileName = "data.fdu",
            .fileSize = 70000,
            .sim = Serve({"--hangup-after", "60"}),
            .cli = Receive(),
            .cliExit = 1,
            .texts = {kWaiting, kUploading, "Error : Port disconnected."},
            .simReport = "hung up after 60 blocks"},
        SilentReceiver("SilenceTripsTheWatchdog", "2", false),
        SilentReceiver("SilenceTripsTheWatchdogInAReceive", "2", true),
        SilentReceiver("SilenceAtTheSizeQueryTripsTheWatchdog", "0", true),
        Row{.name = "SizeBeyond2GB",
            .fileName = "data.fdu",
            .fileSize = 3000,
            .sim = Serve({"--claim-size", "3000000000"}),
            .cli = Receive(),
            .cliExit = 1,
            .texts = {kWaiting, kUploading, "Error : File size is over.",
                      "The receiver reports 3000000000 bytes; more than 2 GB cannot be received."},
            .simExit = 1,
            .simReport = "the tool closed the port before CMD_FINISH, after 0 blocks"},
        Row{.name = "WriteFailsAtOnce",
            .fileName = "data.fdu",
            .fileSize = 5000,
            .sim = Serve(),
            .cli = Receive(),
            .cliExit = 1,
            .texts = {kWaiting, kUploading, "Writing error 0"},
            .simExit = 1,
            .fileSizeLimit = 100},
        // The count is of the whole blocks written before the failing one. (The limit also
        // bounds the tool's stderr, which these tests read from a file.)
        Row{.name = "WriteFailsInsideABlock",
            .fileName = "data.fdu",
            .fileSize = 5000,
            .sim = Serve(),
            .cli = Receive(),
            .cliExit = 1,
            .texts = {kWaiting, kUploading, "Writing error 510"},
            .simExit = 1,
            .fileSizeLimit = 600}),
    RowName);

INSTANTIATE_TEST_SUITE_P(
    Ending, TransferTable,
    ::testing::Values(
        Row{.name = "HeldPortCannotBeOpened",
            .fileSize = 5000,
            .sim = Join({"--idle-before-request", "1500"}, Expect("software")),
            .cli = Send(),
            .cliExit = 1,
            .texts = {"Open port failed!",
                      "@device is held by another program. "
                      "Close that program and try again."},
            .simReport = "download ok, 5000 bytes",
            .holdPort = true},
        Row{.name = "PortThatIsNoSerialLine",
            .fileSize = 10,
            .cli = {"send", "--port", "/dev/null", "@file"},
            .cliExit = 1,
            .texts = {"Open port failed!",
                      "/dev/null is not a serial device. Choose another port."}},
        Row{.name = "NoRequestWithinTheTimeout",
            .fileSize = 10,
            .sim = {"--idle-before-request", "30000", "download", "--mode", "software", "--size",
                    "100"},
            .cli = Send({"--timeout", "1"}),
            .cliExit = 1,
            .texts = {kWaiting, "No request from the receiver within 1 s."},
            .simExit = 1,
            .simReport = "the tool closed the port before the request"},
        Row{.name = "InterruptDuringSend",
            .fileSize = 50000,
            .sim = Join({"--baud", "9600", "--trace"}, Expect("software", {"--block-size", "64"})),
            .cli = Send(),
            .cliExit = 1,
            .texts = {kWaiting, kDownloading, kInterrupted},
            .simExit = 1,
            .simReport = "the tool closed the port while asked",
            .signal = SIGINT,
            .signalAfter = "< CMD_BLOCK_DATA"},
        StoppedReceive("TerminateDuringReceive", SIGTERM),
        StoppedReceive("HangUpSignalDuringReceive", SIGHUP),
        StoppedReceive("QuitSignalDuringReceive", SIGQUIT),
        // Its own descriptors must not take the closed numbers: the signal watcher's
        // would then receive the status lines and the stop would go unheard.
        StoppedReceive("StopWithStandardStreamsClosed", SIGTERM, "<&- >&- 2>&-"),
        // Only a name with a "/" is a path: the file `box` here is no port.
        Row{.name = "FileInTheFolderDoesNotShadowAPortName",
            .fileName = "box",
            .fileSize = 100,
            .sim = Expect("software"),
            .cli = {"send", "--port", "box", "--mode", "software", "@file"},
            .texts = {kWaiting, "Note: @file does not end in .ird, as Software files do.",
                      kDownloading, kComplete},
            .simReport = "download ok, 100 bytes",
            .runInDir = true},
        Row{.name = "UsageWithoutPort", .cli = {"send", "x.ird"}, .cliExit = 2},
        Row{.name = "UsageUnknownMode",
            .cli = {"send", "--port", "/dev/null", "--mode", "firmware", "x.ird"},
            .cliExit = 2},
        Row{.name = "UsageNegativeTimeout",
            .cli = {"send", "--port", "/dev/null", "--timeout", "-1", "x.ird"},
            .cliExit = 2},
        Row{.name = "UsageReceiveHasNoMode",
            .cli = {"receive", "--port", "/dev/null", "--mode", "channels", "x.fdu"},
            .cliExit = 2},
        Row{.name = "UsagePortNamesNothing",
            .cli = {"send", "--port", "no-such-port", "x.ird"},
            .cliExit = 2}),
    RowName);

// The most common first-day fault: a port the user may not open. The reason names the device's
// group only when joining it would help: never a group that may not open the port.
TEST(PortPermission, ReasonNamesAGroupOnlyWhenItMayOpenThePort) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to run the tool as nobody";
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_TRUE(master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0);
  const std::string device = ptsname(master);
  const group* owner = getgrnam("dialout");  // as a USB adapter's device would have
  ASSERT_TRUE(owner != nullptr && chown(device.c_str(), 0, owner->gr_gid) == 0);
  for (const mode_t mode : {0660, 0600}) {
    ASSERT_EQ(chmod(device.c_str(), mode), 0);
    ChildProcess cli("/usr/bin/setpriv",
                     {"--reuid=nobody", "--regid=nogroup", "--clear-groups", CliPath(), "send",
                      "--port", device, "--mode", "software", "/etc/os-release"});
    EXPECT_EQ(cli.Wait(), 1);
    const std::vector<std::string> lines = cli.Lines(Stream::Err);
    ASSERT_EQ(lines.size(), 2u) << cli.Output(Stream::Err);
    EXPECT_EQ(lines[0], "Open port failed!");
    const bool namesGroup =
        lines[1].find("usermod -aG " + std::string(owner->gr_name) + " ") != std::string::npos;
    EXPECT_EQ(namesGroup, mode == 0660) << lines[1];
    EXPECT_EQ(lines[1].find("usermod -aG root"), std::string::npos) << lines[1];
  }
  close(master);
}

// Root's receive into a link that another user planted in a shared folder such as /tmp would
// replace whatever the link names; the kernel refuses to follow such a link, and so does the tool.
TEST(ReceiveTarget, LinkPlantedInASharedFolderIsRefused) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to plant a link as another user";
  ScratchDir dir;
  const std::vector<uint8_t> secret = TestBytes(50, 1);
  WriteBytes(dir.File("secret"), secret);
  WriteBytes(dir.File("data.fdu"), TestBytes(100, 2));
  const std::string shared = dir.File("tmp");
  ASSERT_EQ(mkdir(shared.c_str(), 01777) | chmod(shared.c_str(), 01777), 0);
  const std::string planted = shared + "/x.fdu";
  ASSERT_EQ(symlink(dir.File("secret").c_str(), planted.c_str()), 0);
  ASSERT_EQ(lchown(planted.c_str(), 65534, 65534), 0);  // nobody
  Sim sim({"--timeout", "1", "upload", "--serve", dir.File("data.fdu")});
  ChildProcess cli(CliPath(), {"receive", "--port", kSimPort, planted}, sim.ToolOptions());
  EXPECT_EQ(cli.Wait(), 1);
  EXPECT_EQ(cli.Lines(Stream::Err),
            (std::vector<std::string>{"Error : File open error.",
                                      "Cannot write " + planted +
                                          ": a symbolic link that another user made in a shared "
                                          "folder."}));
  EXPECT_EQ(ReadBytes(dir.File("secret")), secret);
  EXPECT_EQ(sim.Process().Wait(), 1);
}

// pack and inspect --extract write beside their output and rename: a write that fails (a full
// disk, here a size limit) keeps the old output and leaves nothing behind.
TEST(ImageCommands, FailedWriteKeepsTheOldOutput) {
  ScratchDir dir;
  WriteBytes(dir.File("list.fdu"), TestBytes(5000, 4));
  ChildProcess pack(CliPath(), {"pack", dir.File("list.fdu"), dir.File("list.img")});
  ASSERT_EQ(pack.Wait(), 0) << pack.Output(Stream::Err);
  const std::vector<uint8_t> old = TestBytes(300, 9);
  WriteBytes(dir.File("out"), old);
  const std::vector<std::string> entries = dir.Entries();
  const ChildOptions limited{.fileSizeLimit = 1000};
  for (const auto& args :
       {std::vector<std::string>{"pack", dir.File("list.fdu"), dir.File("out")},
        std::vector<std::string>{"inspect", dir.File("list.img"), "--extract", dir.File("out")}}) {
    ChildProcess cli(CliPath(), args, limited);
    EXPECT_EQ(cli.Wait(), 1) << args[0];
    EXPECT_EQ(ReadBytes(dir.File("out")), old) << args[0];
    EXPECT_EQ(dir.Entries(), entries) << args[0];
  }
}

// What the tool prints besides its status texts, and for whom.
INSTANTIATE_TEST_SUITE_P(
    Output, TransferTable,
    ::testing::Values(Row{.name = "PipedOutputShowsProgress",
                          .fileSize = 70000,
                          .sim = Expect("software", {"--block-size", "1024"}),
                          .cli = Send(),
                          .texts = kSent,
                          .simReport = "download ok, 70000 bytes",
                          .stderrHas = "Progress: 100%  70000/70000 B"},
                      // A stdout nobody reads while 1 100 blocks move: statuses and the outcome
                      // all come, progress events merged rather than queued. A name that is no
                      // UTF-8 still makes valid JSON.
                      Row{.name = "JsonEventsOnAStalledStdout",
                          .fileName = "data\xff\x1b.bin",
                          .fileSize = 70000,
                          .sim = Expect("software", {"--block-size", "64"}),
                          .cli = Send({"--progress=json", "--mode", "software"}),
                          .simReport = "download ok, 70000 bytes",
                          .stalled = 1,
                          .jsonOut = true,
                          .maxJsonProgress = 550},
                      // A name cannot fake a line of its own or send the terminal escapes.
                      Row{.name = "ControlCharactersInNamesAreEscaped",
                          .fileName = "a\x1b[2Jb\nFake",
                          .fileSize = 100,
                          .sim = Expect("software"),
                          .cli = Send({"--mode", "software"}),
                          .texts = {kWaiting,
                                    "Note: @dir/a\\x1b[2Jb\\x0aFake does not end in .ird, as "
                                    "Software files do.",
                                    kDownloading, kComplete},
                          .simReport = "download ok, 100 bytes"},
                      Row{.name = "QuietPrintsOnlyTheError",
                          .fileSize = 3000,
                          .sim = Expect("software", {"--past-end"}),
                          .cli = Send({"-q"}),
                          .cliExit = 1,
                          .texts = {"Error : ....."},
                          .simReport = "did not answer the request past the end"},
                      // Two trace lines a block fill the pipe long before the end.
                      Row{.name = "StalledStderrHoldsNothingUp",
                          .fileSize = 70000,
                          .sim = Expect("software", {"--block-size", "64"}),
                          .cli = Send({"--trace"}),
                          .simReport = "download ok, 70000 bytes",
                          .stalled = 2},
                      Row{.name = "Version",
                          .cli = {"--version"},
                          .stdoutHas = "Copyright (c) 2026 The Kestal developers"}),
    RowName);

// A session with a fault, recorded, traced and replayed: the replay ends as the session did
// (so does Send/SoftwareThroughNoiseAndBadSums). The recording never holds up a transfer, not
// even when it cannot be written.
INSTANTIATE_TEST_SUITE_P(
    Recorded, TransferTable,
    ::testing::Values(Row{.name = "ChannelsSendThroughLostRequests",
                          .fileName = "data.fdu",
                          .fileSize = 5000,
                          .sim = Join({"--drop-every", "3", "--reply-timeout", "300"},
                                      Expect("channels", {"--block-size", "512"})),
                          .cli = Send(),
                          .texts = kSentChannels,
                          .simReport = "channel list 5000 bytes in",
                          .replay = true,
                          .traceHas = "s quiet --"},
                      Row{.name = "ReceiveThroughNoiseUntilAHangUp",
                          .fileName = "data.fdu",
                          .fileSize = 3000,
                          .sim = Serve({"--noise", "40", "--seed", "7", "--hangup-after", "6"}),
                          .cli = Receive(),
                          .cliExit = 1,
                          .texts = {kWaiting, kUploading, "Error : Port disconnected."},
                          .simReport = "hung up after 6 blocks",
                          .replay = true,
                          .traceHas = "the port went away"},
                      Row{.name = "RecordingThatCannotBeCreated",
                          .fileSize = 3000,
                          .sim = Expect("software"),
                          .cli = Send({"--record", "/dev/full"}),
                          .texts = {"Not recording: cannot write /dev/full: No space left on "
                                    "device.",
                                    kWaiting, kDownloading, kComplete},
                          .simReport = "download ok, 3000 bytes"},
                      Row{.name = "RecordingNeverOverwritesTheFileSent",
                          .fileSize = 3000,
                          .sim = Expect("software"),
                          .cli = Send({"--record", "@file"}),
                          .texts = {"Not recording: @file is the file being transferred.", kWaiting,
                                    kDownloading, kComplete},
                          .simReport = "download ok, 3000 bytes"},
                      Row{.name = "RecordingBrokenOffByTheFileSizeLimit",
                          .fileSize = 12000,
                          .sim = Expect("software"),
                          .cli = Send({"--record", "@recording"}),
                          .texts = {kWaiting, kDownloading, kComplete,
                                    "The recording is incomplete: cannot write @recording: File "
                                    "too large."},
                          .simReport = "download ok, 12000 bytes",
                          .fileSizeLimit = 3000}),
    RowName);

// The emulator is the oracle: a tool sending other data or leaving mid-transfer must fail it.
INSTANTIATE_TEST_SUITE_P(
    Oracle, TransferTable,
    ::testing::Values(Row{.name = "OtherSoftwareData",
                          .fileSize = 3000,
                          .sim = {"download", "--mode", "software", "--expect", "@other"},
                          .cli = Send(),
                          .texts = kSent,
                          .simExit = 1,
                          .simReport = "data differs at offset 1500"},
                      Row{.name = "OtherChannelList",
                          .fileName = "data.fdu",
                          .fileSize = 3000,
                          .sim = {"download", "--mode", "channels", "--expect", "@other"},
                          .cli = Send(),
                          .texts = kSentChannels,
                          .simExit = 1,
                          .simReport = "channel list differs at offset 1500"},
                      // Every frame of the tool lost: the emulator asks --attempts times only.
                      Row{.name = "ToolNeverHeard",
                          .fileSize = 10,
                          .sim = {"--in-drop-rate", "1", "--attempts", "2", "--reply-timeout",
                                  "200", "download", "--mode", "software", "--size", "10"},
                          .cli = Send(),
                          .cliExit = 1,
                          .texts = {kWaiting, kDownloading, "Error : Port disconnected."},
                          .simExit = 1,
                          .simReport = "no CMD_ACCEPT_DOWNLOAD after 2 requests"},
                      Row{.name = "ToolKilledBeforeFinish",
                          .fileName = "data.fdu",
                          .fileSize = 3000,
                          .sim = Serve({"--baud", "9600", "--trace"}),
                          .cli = Receive(),
                          .cliExit = 128 + SIGKILL,
                          .texts = {kWaiting, kUploading},
                          .simExit = 1,
                          .simReport = "the tool closed the port before CMD_FINISH",
                          .signal = SIGKILL,
                          .signalAfter = kSecondBlockAsked}),
    RowName);

// A receiver that breaks the rules: an ending with nothing asked is no success, and a stray or
// repeated frame must not leave the tool one answer behind for the rest of the transfer.
INSTANTIATE_TEST_SUITE_P(
    ReceiverFaults, TransferTable,
    ::testing::Values(
        Row{.name = "FinishBeforeAnyRequest",
            .fileSize = 100,
            .sim = {"--finish-before-request", "download", "--mode", "software", "--size", "100"},
            .cli = Send(),
            .cliExit = 1,
            .texts = {kWaiting, "Error : The receiver finished without asking for data."},
            .simReport = "finished before any request; the tool closed the port"},
        Row{.name = "LateCopyOfAnAnswer",
            .fileName = "data.fdu",
            .fileSize = 3000,
            .sim = Serve({"--repeat-answer", "2"}),
            .cli = Receive(),
            .texts = kReceived,
            .simReport = "served 3000 of 3000 bytes"},
        Row{.name = "StrayRequestAmongBlocks",
            .fileName = "data.fdu",
            .fileSize = 3000,
            .sim = Serve({"--request-at-block", "3"}),
            .cli = Receive(),
            .texts = kReceived,
            .simReport = "served 3000 of 3000 bytes"}),
    RowName);

INSTANTIATE_TEST_SUITE_P(LossyLine, TransferTable, ::testing::ValuesIn(LossyLineRows()), RowName);

}  // namespace
}  // namespace kestal::testing

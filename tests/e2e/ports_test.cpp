// Choosing the port: the probe of --port auto among several emulators, the port list's own
// words, and the emulator's model of a USB adapter's hold time.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>

#include "support/sim_process.h"

namespace kestal::testing {
namespace {

const std::string kWaiting = "Waiting For Request. Reset SetTop Box.";

TEST(PortAuto, FindsTheOneReceiverThatAsks) {
  Desk desk;
  WriteBytes(desk.File("data.ird"), TestBytes(3000, 3));
  desk.AddSilent("first");
  ChildProcess& answering =
      desk.Add("second", {"download", "--mode", "software", "--expect", desk.File("data.ird")});
  desk.AddSilent("third");

  ChildProcess cli(CliPath(), {"send", "--port", "auto", desk.File("data.ird")}, desk.Options());
  EXPECT_EQ(cli.Wait(), 0) << cli.Output(Stream::Err);
  const auto lines = cli.Lines(Stream::Err);
  EXPECT_EQ(std::count(lines.begin(), lines.end(), kWaiting), 1);
  EXPECT_EQ(lines.back(), "Transfer complete !");
  EXPECT_EQ(answering.Wait(), 0) << answering.Output(Stream::Err);
}

// A receiver that asks only once is answered on the line it asked on: no close and reopen. The
// request the search read is in the session's recording too.
TEST(PortAuto, AnswersTheRequestItHeard) {
  Desk desk;
  WriteBytes(desk.File("data.ird"), TestBytes(3000, 3));
  desk.AddSilent("first");
  ChildProcess& asksOnce =
      desk.Add("second", {"--attempts", "1", "--request-value", "0xfeed1234", "download", "--mode",
                          "software", "--expect", desk.File("data.ird")});
  ChildProcess cli(CliPath(),
                   {"send", "--port", "auto", "--record", desk.File("rec"), desk.File("data.ird")},
                   desk.Options());
  EXPECT_EQ(cli.Wait(), 0) << cli.Output(Stream::Err);
  EXPECT_EQ(asksOnce.Wait(), 0) << asksOnce.Output(Stream::Err);
  ChildProcess trace(CliPath(), {"trace", desk.File("rec")});
  EXPECT_EQ(trace.Wait(), 0);
  EXPECT_NE(trace.Output(Stream::Out)
                .find("CMD_REQUEST         len 4     sum ok   request value "
                      "0xfeed1234"),
            std::string::npos)
      << trace.Output(Stream::Out);
}

// The first port to ask goes away once the tool has taken it, before its answer got through: the
// run goes on with the next port that asks, whose port stayed open meanwhile. However late the
// hang-up is seen, the outcome is the same. (The other receiver asks later, so that the first
// is taken nearly always; were it not, the outcome would still be the same.)
TEST(PortAuto, GoesOnWithTheNextPortWhenTheFirstGoesUnanswered) {
  Desk desk;
  WriteBytes(desk.File("data.ird"), TestBytes(3000, 3));
  ChildProcess& goes = desk.Add(
      "a-goes", {"--hangup-after-request", "download", "--mode", "software", "--size", "3000"});
  ChildProcess& stays = desk.Add("b-stays", {"--idle-before-request", "500", "download", "--mode",
                                             "software", "--expect", desk.File("data.ird")});
  ChildProcess cli(CliPath(), {"send", "--port", "auto", desk.File("data.ird")}, desk.Options());
  EXPECT_EQ(cli.Wait(), 0) << cli.Output(Stream::Err);
  EXPECT_EQ(cli.Lines(Stream::Err).back(), "Transfer complete !");
  EXPECT_EQ(cli.Output(Stream::Err).find("Error"), std::string::npos) << cli.Output(Stream::Err);
  EXPECT_EQ(stays.Wait(), 0) << stays.Output(Stream::Err);
  EXPECT_EQ(goes.Wait(), 0) << goes.Output(Stream::Err);
}

TEST(PortAuto, TimeoutBoundsTheProbe) {
  Desk desk;
  desk.AddSilent("quiet");
  ChildProcess cli(CliPath(), {"receive", "--port", "auto", "--timeout", "1", desk.File("t.fdu")},
                   desk.Options());
  EXPECT_EQ(cli.Wait(), 1);
  EXPECT_EQ(cli.Lines(Stream::Err),
            (std::vector<std::string>{kWaiting, "No request from the receiver within 1 s."}));
}

// An interrupt ends the search, and so does the last port going away before its receiver asked.
TEST(PortAuto, InterruptOrTheLastPortGoingEndsTheProbe) {
  Desk desk;
  desk.AddSilent("quiet");
  ChildProcess cli(CliPath(), {"send", "--port", "auto", desk.File("x.ird")}, desk.Options());
  ASSERT_TRUE(cli.WaitForLine(Stream::Err, kWaiting, 10s));
  cli.Signal(SIGINT);
  EXPECT_EQ(cli.Wait(), 1);
  EXPECT_EQ(cli.Lines(Stream::Err), (std::vector<std::string>{kWaiting, "Interrupted by user!"}));

  ChildProcess& unplugged = desk.Add(
      "gone", {"--idle-before-request", "60000", "download", "--mode", "software", "--size", "9"});
  ChildProcess again(CliPath(), {"send", "--port", "auto", desk.File("x.ird")}, desk.Options());
  ASSERT_TRUE(again.WaitForLine(Stream::Err, kWaiting, 10s));
  unplugged.Signal(SIGTERM);
  EXPECT_EQ(again.Wait(), 1);
  EXPECT_EQ(again.Lines(Stream::Err)[1], "Error : Port disconnected.");
}

// Opens `device` as a tool would, wakes it and reads until a CMD_REQUEST (sync, sequence, 0x01)
// has come or `timeout` passed; then closes it again.
bool WakeAndHearRequest(const std::string& device, std::chrono::milliseconds timeout) {
  const int fd = open(device.c_str(), O_RDWR | O_NOCTTY);
  const uint8_t burst[10] = {0x0D, 0x01, 0x0D, 0x01, 0x0D};
  if (fd < 0 || write(fd, burst, sizeof burst) != sizeof burst) return false;
  std::string heard;
  pollfd pfd{fd, POLLIN, 0};
  while (heard.find(std::string("QzVk\r\x01\x01", 7)) == std::string::npos &&
         poll(&pfd, 1, static_cast<int>(timeout.count())) > 0) {
    char buffer[64];
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n <= 0) break;
    heard.append(buffer, static_cast<size_t>(n));
  }
  close(fd);
  return heard.find(std::string("QzVk\r\x01\x01", 7)) != std::string::npos;
}

// What the probe relies on: a receiver keeps asking while the port is closed and reopened.
TEST(SimRequest, OutlastsTheToolClosingThePort) {
  Sim sim({"download", "--mode", "software", "--size", "9"});
  ASSERT_TRUE(WakeAndHearRequest(sim.Device(), 10s));
  std::this_thread::sleep_for(300ms);  // the tool is away; the emulator must notice and wait
  EXPECT_TRUE(WakeAndHearRequest(sim.Device(), 5s)) << sim.Process().Output(Stream::Err);
}

// The README's "Try it" block as a new user runs it, 30 times in a row: the emulator must be
// there when the tool looks for it, every time. Taken from README.md itself.
TEST(Readme, TryItRunsWithoutARace) {
  std::ifstream readme(KESTAL_SOURCE_DIR "/README.md");
  const std::string text{std::istreambuf_iterator<char>(readme), {}};
  const size_t sim = text.find("/kestal-sim ", text.find("## Try it"));
  const size_t start = text.rfind("```sh\n", sim) + 6;
  std::string block = text.substr(start, text.find("```", start) - start);
  const std::string setBin = "B=build/release/src";
  ASSERT_NE(block.find(setBin), std::string::npos) << block;
  block.replace(block.find(setBin), setBin.size(),
                "B=" + std::filesystem::path(CliPath()).parent_path().parent_path().string());
  ScratchDir runtime;
  for (int run = 0; run < 30; ++run) {
    ChildProcess shell("/bin/sh", {"-ec", "cd " KESTAL_SOURCE_DIR "\n" + block},
                       {{"XDG_RUNTIME_DIR=" + runtime.Path().string()}});
    ASSERT_EQ(shell.Wait(), 0) << "run " << run << ": " << shell.Output(Stream::Err);
  }
  // Every emulator ends by itself once its transfer is over, and takes its port with it.
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (!runtime.Entries().empty() && !std::filesystem::is_empty(runtime.File("kestal/ports")) &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(10ms);
  }
  EXPECT_TRUE(std::filesystem::is_empty(runtime.File("kestal/ports")));
}

TEST(PortList, SaysSoWhenThereIsNone) {
  ScratchDir dir;
  ChildProcess cli(CliPath(), {"ports", "--sysfs-tty", dir.File("class"), "--dev-dir",
                               dir.File("dev"), "--virtual-dir", dir.File("virtual")});
  EXPECT_EQ(cli.Wait(), 0);
  EXPECT_EQ(cli.Output(Stream::Out), "");
  EXPECT_EQ(cli.Output(Stream::Err), "No serial ports found.\n");
}

// Each frame the emulator sends (the request, three block requests, the finish) waits out the
// hold: at least four of them lie between start and end.
TEST(SimHold, HoldsEveryFrameItSends) {
  ScratchDir dir;
  WriteBytes(dir.File("data.ird"), TestBytes(3, 5));
  Sim sim({"--hold-ms", "300", "download", "--mode", "software", "--block-size", "1", "--expect",
           dir.File("data.ird"), "--save", dir.File("saved")});
  ASSERT_FALSE(sim.Device().empty()) << sim.Process().Output(Stream::Err);
  const auto start = std::chrono::steady_clock::now();
  ChildProcess cli(CliPath(), {"send", "--port", kSimPort, dir.File("data.ird")},
                   sim.ToolOptions());
  EXPECT_EQ(cli.Wait(), 0) << cli.Output(Stream::Err);
  EXPECT_GE(std::chrono::steady_clock::now() - start, 1200ms);
  EXPECT_EQ(sim.Process().Wait(), 0) << sim.Process().Output(Stream::Err);
  EXPECT_EQ(ReadBytes(dir.File("saved")), ReadBytes(dir.File("data.ird")));
}

// The emulator's port is announced while it runs and gone once it ends, by a signal too.
TEST(SimPort, AnnouncedWhileItRunsOnly) {
  Desk desk;
  const std::string port = desk.File("kestal/ports/box");
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
    ChildProcess& sim = desk.Add("box", {"download", "--mode", "software", "--size", "9"});
    EXPECT_TRUE(std::filesystem::is_symlink(port));
    sim.Signal(signal);
    EXPECT_EQ(sim.Wait(), 128 + signal);
    EXPECT_FALSE(std::filesystem::is_symlink(port)) << signal;
  }
  ChildProcess usage(SimPath(), {"download", "--mode", "software"});  // no size, nothing to expect
  EXPECT_EQ(usage.Wait(), 2);
}

}  // namespace
}  // namespace kestal::testing

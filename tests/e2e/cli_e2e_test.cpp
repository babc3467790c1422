// How kestal-cli send/receive end: exit statuses, --timeout, SIGINT, and what a paced transfer
// costs the sending process.
#include <gtest/gtest.h>
#include <signal.h>

#include "e2e/e2e_support.h"
#include "ports/virtual_ports.h"
#include "sim/paced_line.h"

namespace kestal::e2e {
namespace {

const std::string kWaiting = "Waiting For Request. Reset SetTop Box.";

TEST(CliExit, UsageErrorsExitTwo) {
  const std::vector<std::vector<std::string>> usages = {
      {"send", "x.ird"},                                        // no --port
      {"send", "--port", "/dev/null"},                          // no file
      {"send", "--port", "/dev/null", "--mode", "firmware", "x.ird"},
      {"send", "--port", "/dev/null", "--timeout", "-1", "x.ird"},
      {"receive", "--port", "/dev/null", "--mode", "channels", "x.fdu"},  // receive has no mode
      {"send", "--port", "no-such-port-kestal-e2e", "x.ird"},  // names no port at all
  };
  for (const auto& args : usages) {
    auto cli = StartCli(args);
    EXPECT_EQ(cli->Wait().code, 2) << args[0] << " " << args[args.size() - 1] << "\n"
                                   << cli->StderrJoined();
  }
}

TEST(CliExit, PortThatCannotBeOpenedExitsOne) {
  auto cli = StartCli({"send", "--port", "/dev/null", ExamplePath("sample.ird")});
  EXPECT_EQ(cli->Wait().code, 1);
  EXPECT_EQ(cli->StderrTexts(), std::vector<std::string>{"Open port failed!"});
}

TEST(CliExit, DiscoveredPortNameWorksLikeItsPath) {
  const std::string name = "e2e-named-" + std::to_string(getpid());
  Sim sim = StartSim({"--name", name, "upload", "--serve", ExamplePath("sample.fdu")});
  ASSERT_FALSE(sim.device.empty());
  ScratchDir dir;
  auto cli = StartCli({"receive", "--port", name, dir.File("back.fdu")});
  EXPECT_EQ(cli->Wait().code, 0) << cli->StderrJoined();
  EXPECT_EQ(ReadBytes(dir.File("back.fdu")), ReadBytes(ExamplePath("sample.fdu")));
  // The emulator withdraws its virtual port when it ends on its own.
  EXPECT_EQ(sim.process->Wait(10s).code, 0) << sim.process->StderrJoined();
  const auto link = std::filesystem::path(VirtualPortDirectory()) / name;
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));
}

TEST(CliTimeout, ReceiverThatNeverAsksEndsTheWaitWithExitOne) {
  Sim sim = StartSim({"--idle-before-request", "30000", "--timeout", "40", "download", "--mode",
                      "software", "--size", "100"});
  ASSERT_FALSE(sim.device.empty());
  const auto start = std::chrono::steady_clock::now();
  auto cli = StartCli({"send", "--port", sim.device, "--timeout", "1", ExamplePath("sample.ird")});
  const ChildExit exit = cli->Wait(10s);
  EXPECT_EQ(exit.code, 1);
  EXPECT_GE(exit.at - start, 1s);
  EXPECT_LT(exit.at - start, 4s);
  EXPECT_EQ(cli->StderrTexts(), (std::vector<std::string>{
                                    kWaiting, "No request from the receiver within 1 s."}));
}

TEST(CliTimeout, TransferLongerThanTheTimeoutIsNotCutShort) {
  ScratchDir dir;
  // About 1.8 s at 115200 baud, well past the 0.5 s bound on the first request.
  Sim sim = StartSim({"--baud", "115200", "upload", "--serve", ExamplePath("sample.fdu")});
  ASSERT_FALSE(sim.device.empty());
  auto cli = StartCli({"receive", "--port", sim.device, "--timeout", "0.5", dir.File("b.fdu")});
  EXPECT_EQ(cli->Wait().code, 0) << cli->StderrJoined();
  EXPECT_EQ(ReadBytes(dir.File("b.fdu")), ReadBytes(ExamplePath("sample.fdu")));
}

TEST(CliSignal, InterruptStopsTheTransferWithExitOne) {
  Sim sim = StartSim({"--idle-before-request", "30000", "--timeout", "40", "download", "--mode",
                      "software", "--size", "100"});
  ASSERT_FALSE(sim.device.empty());
  auto cli = StartCli({"send", "--port", sim.device, ExamplePath("sample.ird")});
  ASSERT_TRUE(cli->WaitForStderrLine(kWaiting, 5s)) << cli->StderrJoined();
  const auto interrupted = std::chrono::steady_clock::now();
  cli->Signal(SIGINT);
  const ChildExit exit = cli->Wait(10s);
  EXPECT_EQ(exit.code, 1);
  EXPECT_LT(exit.at - interrupted, 3s);
  const auto texts = cli->StderrTexts();
  EXPECT_NE(std::find(texts.begin(), texts.end(), "Interrupted by user!"), texts.end())
      << cli->StderrJoined();
}

TEST(CliSignal, TerminateDuringAnUploadExitsOneAndKeepsTheOldTarget) {
  ScratchDir dir;
  const std::string target = dir.File("target.fdu");
  const std::vector<uint8_t> old = TestBytes(300, 21);
  WriteBytes(target, old);
  // Paced, so the upload is still running when the signal comes.
  Sim sim = StartSim({"--baud", "115200", "upload", "--serve", ExamplePath("sample.fdu")});
  ASSERT_FALSE(sim.device.empty());
  auto cli = StartCli({"receive", "--port", sim.device, target});
  ASSERT_TRUE(cli->WaitForStderrLine("Uploading...", 5s)) << cli->StderrJoined();
  cli->Signal(SIGTERM);
  EXPECT_EQ(cli->Wait(10s).code, 1);
  EXPECT_EQ(ReadBytes(target), old);
}

// The tool waits for the line without spinning: a 200 KB send at the real line speed costs
// the sending process well under 2 % of one core.
TEST(CliCost, PacedSendUsesLittleProcessorTime) {
  if (kSanitized) GTEST_SKIP() << "processor time means nothing under a sanitizer";
  ScratchDir dir;
  const std::string file = dir.File("big.ird");
  WriteBytes(file, TestBytes(200 * 1024, 31));
  Sim sim = StartSim({"--baud", "115200", "--timeout", "30", "download", "--mode", "software",
                      "--expect", file});
  ASSERT_FALSE(sim.device.empty());
  sim::PacedLine line(sim.device, 115200);
  ASSERT_TRUE(line.Ok());

  const auto start = std::chrono::steady_clock::now();
  auto cli = StartCli({"send", "--port", line.ToolDevice(), file});
  const ChildExit exit = cli->Wait(60s);
  ASSERT_EQ(exit.code, 0) << cli->StderrJoined();
  EXPECT_EQ(sim.process->Wait(10s).code, 0) << sim.process->StderrJoined();

  const double wall = std::chrono::duration<double>(exit.at - start).count();
  EXPECT_GT(wall, 15.0) << "the line was not paced";
  const double share = exit.cpuSeconds / wall;
  RecordProperty("cpu_share_percent", std::to_string(share * 100));
  EXPECT_LT(share, 0.02) << exit.cpuSeconds << " s of processor time in " << wall << " s";
}

}  // namespace
}  // namespace kestal::e2e

// The port goes away in the middle of a transfer: the transfer ends at once with "Error : Port
// disconnected.", nothing keeps spinning on the dead device, and the same process can open a
// new port and transfer again. (A hang-up before the first request: DownloadHangUpTest and
// UploadHangUpTest in every phase, SerialLinkTest.PeerGoingAwayIsNoticedAndDoesNotSpin on a
// real pseudo-terminal.)
#include <gtest/gtest.h>

#include <iostream>
#include <thread>

#include "e2e/e2e_support.h"
#include "e2e/fault_support.h"

namespace kestal::e2e {
namespace {

constexpr const char* kDisconnected = "Error : Port disconnected.";

struct HangUpRun {
  bool ended = false;
  std::optional<SteadyTime> hungUpAt;  // when the emulator reported its hang-up
  double cpuFromHangUp = -1;           // process CPU from the hang-up to one second after the end
};

// Pumps the window until the worker has gone, noting when the emulator hung up; then idles one
// second and measures what the process spent from the hang-up on.
HangUpRun PumpThroughHangUp(InProcessTool& tool, ChildProcess& sim) {
  HangUpRun run;
  double cpuAtHangUp = 0;
  const auto until = std::chrono::steady_clock::now() + 20s;
  while (tool.window.WorkerExits() == 0 && std::chrono::steady_clock::now() < until) {
    tool.window.PumpOne(10ms);
    if (!run.hungUpAt) {
      if (auto line = sim.WaitForStderrLine("hung up after", 0ms, true)) {
        run.hungUpAt = line->at;
        cpuAtHangUp = CpuSeconds();
      }
    }
  }
  run.ended = tool.window.WorkerExits() > 0;
  if (!run.hungUpAt) {
    // The tool may see the line drop before the emulator's report of it has been read.
    if (auto line = sim.WaitForStderrLine("hung up after", 2s, true)) {
      run.hungUpAt = line->at;
      cpuAtHangUp = CpuSeconds();
    }
  }
  std::this_thread::sleep_for(1s);
  if (run.hungUpAt) run.cpuFromHangUp = CpuSeconds() - cpuAtHangUp;
  return run;
}

void ExpectEndedPromptlyAndQuietly(const InProcessTool& tool, const HangUpRun& run) {
  ASSERT_TRUE(run.ended) << tool.window.StatusesJoined();
  ASSERT_TRUE(run.hungUpAt);
  const auto shown = tool.window.FirstShown(kDisconnected);
  ASSERT_TRUE(shown) << tool.window.StatusesJoined();
  EXPECT_LT(*shown - *run.hungUpAt, 1s);
  std::cout << "hang-up to \"" << kDisconnected << "\": "
            << std::chrono::duration_cast<Millis>(*shown - *run.hungUpAt).count()
            << " ms; CPU from the hang-up to 1 s after the end: " << run.cpuFromHangUp << " s"
            << std::endl;
  EXPECT_FALSE(tool.window.LastExitCompleted());
  EXPECT_FALSE(tool.window.TimerRunning(TIMER_WATCHDOG));
  EXPECT_FALSE(tool.link.IsOpen());
  // About a second and a half of wall time; a thread spinning on the dead port would use most of it.
  if (!kSanitized) {
    EXPECT_LT(run.cpuFromHangUp, 0.25);
  }
}

// A second transfer, on a new emulator, through the same link and controller.
void ExpectASecondDownloadWorks(InProcessTool& tool, const ScratchDir& dir) {
  const std::string file = dir.File("second.ird");
  WriteBytes(file, TestBytes(20000, 77));
  Sim sim = StartSim({"--timeout", "10", "download", "--mode", "software", "--expect", file});
  ASSERT_FALSE(sim.device.empty());
  tool.Start(sim.device, file, MODE_SOFTWARE, DIR_TO_RECEIVER);
  ASSERT_TRUE(tool.window.PumpUntilWorkerExit(20s)) << tool.window.StatusesJoined();
  EXPECT_TRUE(tool.window.LastExitCompleted()) << tool.window.StatusesJoined();
  EXPECT_EQ(sim.process->Wait(10s).code, 0) << sim.process->StderrJoined();
}

TEST(FaultHangUp, MidDownloadEndsWithinASecondWithoutSpinningAndThePortOpensAgain) {
  ScratchDir dir;
  const std::string file = dir.File("image.ird");
  WriteBytes(file, TestBytes(1 << 20, 1));
  const int threadsBefore = CountThreads();
  Sim sim = StartSim({"--hangup-after", "40", "download", "--mode", "software", "--expect", file});
  ASSERT_FALSE(sim.device.empty());
  {
    InProcessTool tool;
    tool.Start(sim.device, file, MODE_SOFTWARE, DIR_TO_RECEIVER);
    const HangUpRun run = PumpThroughHangUp(tool, *sim.process);
    ExpectEndedPromptlyAndQuietly(tool, run);
    EXPECT_EQ(sim.process->Wait(10s).code, 0);
    ExpectASecondDownloadWorks(tool, dir);
  }
  sim.process.reset();
  // A sanitizer's runtime starts a thread of its own with the first thread of the test.
  if (!kSanitized) {
    EXPECT_EQ(CountThreads(), threadsBefore);
  }
}

TEST(FaultHangUp, MidUploadEndsWithinASecondWithoutSpinningAndThePortOpensAgain) {
  ScratchDir dir;
  const std::string served = dir.File("served.fdu");
  const std::string target = dir.File("target.fdu");
  WriteBytes(served, TestBytes(70000, 2));
  const auto old = TestBytes(300, 3);
  WriteBytes(target, old);
  Sim sim = StartSim({"--hangup-after", "60", "upload", "--serve", served});
  ASSERT_FALSE(sim.device.empty());
  InProcessTool tool;
  tool.Start(sim.device, target, MODE_CHANNELS, DIR_TO_COMPUTER);
  const HangUpRun run = PumpThroughHangUp(tool, *sim.process);
  ExpectEndedPromptlyAndQuietly(tool, run);
  EXPECT_EQ(ReadBytes(target), old);
  EXPECT_EQ(DirectoryEntries(dir.Path().string()), (std::vector<std::string>{"served.fdu", "target.fdu"}));
  ExpectASecondDownloadWorks(tool, dir);
}

}  // namespace
}  // namespace kestal::e2e

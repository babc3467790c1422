// The port is held by another process: "Open port failed!", nothing is started, and the
// holder's transfer is not disturbed. (A second open in the same process is refused too:
// SerialLinkTest.SecondOpenOfAHeldPortFails.)
#include <gtest/gtest.h>

#include "e2e/e2e_support.h"
#include "e2e/fault_support.h"

namespace kestal::e2e {
namespace {

TEST(FaultPortHeld, OpenPortFailedStartsNothingAndLeavesTheHolderAlone) {
  ScratchDir dir;
  const std::string file = dir.File("held.ird");
  WriteBytes(file, TestBytes(5000, 9));
  // The emulator waits a while after the burst, so the holder keeps the port during the checks.
  Sim sim = StartSim({"--trace", "--idle-before-request", "1500", "--timeout", "10", "download",
                      "--mode", "software", "--expect", file});
  ASSERT_FALSE(sim.device.empty());
  auto holder = StartCli({"send", "--port", sim.device, file});
  // The wake-up burst shows that the holder has the port open.
  ASSERT_TRUE(sim.process->WaitForStderrLine("sim: < wake-up burst", 10s));

  const int threadsBefore = CountThreads();
  const int descriptorsBefore = CountOpenDescriptors();
  {
    InProcessTool tool;
    tool.Start(sim.device, file, MODE_SOFTWARE, DIR_TO_RECEIVER);
    EXPECT_EQ(tool.controller->m_strStatus, "Open port failed!");
    EXPECT_FALSE(tool.controller->WorkerAlive());
    EXPECT_EQ(tool.job.m_bRunning.load(), 0);
    EXPECT_EQ(tool.job.m_bTransferActive.load(), 0);
    EXPECT_FALSE(tool.window.TimerRunning(TIMER_WATCHDOG));
    EXPECT_FALSE(tool.link.IsOpen());
    EXPECT_EQ(CountThreads(), threadsBefore);
    EXPECT_EQ(CountOpenDescriptors(), descriptorsBefore);
  }
  auto second = StartCli({"send", "--port", sim.device, file});
  EXPECT_EQ(second->Wait(10s).code, 1);
  EXPECT_EQ(second->StderrTexts(), std::vector<std::string>{"Open port failed!"});

  EXPECT_EQ(holder->Wait(20s).code, 0) << holder->StderrJoined();
  EXPECT_EQ(sim.process->Wait(10s).code, 0) << sim.process->StderrJoined();
}

}  // namespace
}  // namespace kestal::e2e

// The port is held by another process or another open in this one: "Open port failed!", and
// nothing is started, nor is the holder's transfer disturbed.
#include <gtest/gtest.h>

#include "e2e/e2e_support.h"
#include "e2e/fault_support.h"

namespace kestal::e2e {
namespace {

// A kestal-cli that has opened the emulator's port and waits for its request.
struct Holder {
  ScratchDir dir;
  Sim sim;
  std::unique_ptr<ChildProcess> cli;
  std::string file;

  Holder() {
    file = dir.File("held.ird");
    WriteBytes(file, TestBytes(5000, 9));
    sim = StartSim({"--trace", "--idle-before-request", "1500", "--timeout", "10", "download",
                    "--mode", "software", "--expect", file});
    if (sim.device.empty()) return;
    cli = StartCli({"send", "--port", sim.device, file});
    // The wake-up burst shows that the holder has the port open.
    if (!sim.process->WaitForStderrLine("sim: < wake-up burst", 10s)) ADD_FAILURE() << "no burst";
  }
  // The holder still completes its own transfer.
  void ExpectUndisturbed() {
    EXPECT_EQ(cli->Wait(20s).code, 0) << cli->StderrJoined();
    EXPECT_EQ(sim.process->Wait(10s).code, 0) << sim.process->StderrJoined();
  }
};

TEST(FaultPortHeld, SecondCliGetsOpenPortFailedAndStartsNothing) {
  Holder holder;
  ASSERT_TRUE(holder.cli);
  auto second = StartCli({"send", "--port", holder.sim.device, holder.file});
  EXPECT_EQ(second->Wait(10s).code, 1);
  EXPECT_EQ(second->StderrTexts(), std::vector<std::string>{"Open port failed!"});
  holder.ExpectUndisturbed();
}

TEST(FaultPortHeld, ControllerShowsOpenPortFailedWithoutWorkerTimerOrThread) {
  Holder holder;
  ASSERT_TRUE(holder.cli);
  const int threadsBefore = CountThreads();
  const int descriptorsBefore = CountOpenDescriptors();
  {
    InProcessTool tool;
    tool.Start(holder.sim.device, holder.file, MODE_SOFTWARE, DIR_TO_RECEIVER);
    EXPECT_EQ(tool.controller->m_strStatus, "Open port failed!");
    EXPECT_FALSE(tool.controller->WorkerAlive());
    EXPECT_EQ(tool.job.m_bRunning.load(), 0);
    EXPECT_EQ(tool.job.m_bTransferActive.load(), 0);
    EXPECT_FALSE(tool.window.TimerRunning(TIMER_WATCHDOG));
    EXPECT_FALSE(tool.link.IsOpen());
    EXPECT_EQ(CountThreads(), threadsBefore);
    EXPECT_EQ(CountOpenDescriptors(), descriptorsBefore);
  }
  holder.ExpectUndisturbed();
}

// Locks belong to an open, not to a process: a second open in the same process is refused too.
TEST(FaultPortHeld, SecondLinkInTheSameProcessIsRefused) {
  PtyPeer peer;
  ASSERT_FALSE(peer.Device().empty());
  const PortInfo port{peer.Device(), "p", "p", 0, ""};
  SerialLink first;
  ASSERT_EQ(first.OpenLink(port, 115200), 1);
  ScratchDir dir;
  const std::string file = dir.File("x.ird");
  WriteBytes(file, TestBytes(100, 1));
  InProcessTool tool;
  tool.Start(peer.Device(), file, MODE_SOFTWARE, DIR_TO_RECEIVER);
  EXPECT_EQ(tool.controller->m_strStatus, "Open port failed!");
  EXPECT_FALSE(tool.controller->WorkerAlive());
  first.CloseLink();
  // Once the holder lets go, the same controller opens it.
  tool.Start(peer.Device(), file, MODE_SOFTWARE, DIR_TO_RECEIVER);
  EXPECT_EQ(tool.controller->m_strStatus, "Waiting For Request. Reset SetTop Box.");
  EXPECT_TRUE(peer.WaitForBurst(5s));
}

}  // namespace
}  // namespace kestal::e2e

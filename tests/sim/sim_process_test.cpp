// kestal-sim as a process: its device path, its virtual port, and whole exchanges over the
// pseudo-terminal with the tool's side played by hand.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "link/frame_codec.h"
#include "ports/virtual_ports.h"
#include "pty_tool.h"
#include "scripted_tool.h"

namespace kestal::sim::testing {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

std::string UniqueName(const std::string& what) {
  return "simtest-" + what + "-" + std::to_string(getpid());
}

fs::path LinkOf(const std::string& name) { return fs::path(VirtualPortDirectory()) / name; }

// Plays the sending tool: answers the request and every block request from `data`.
void ServeDownload(PtyTool& tool, const std::vector<uint8_t>& data) {
  tool.Write(Burst());
  while (auto frame = tool.NextFrame(5000)) {
    if (frame->command == CMD_REQUEST) tool.Write(WireFrame(frame->sequence, CMD_ACCEPT_DOWNLOAD, {}));
    if (frame->command == CMD_FINISH) return;
    if (frame->command == CMD_BLOCK_REQUEST) {
      const BlockAsk ask = ParseBlockRequest(*frame);
      ASSERT_LE(ask.offset + ask.length, data.size());
      const auto from = data.begin() + ask.offset;
      tool.Write(WireFrame(frame->sequence, CMD_BLOCK_DATA,
                           std::vector<uint8_t>(from, from + ask.length)));
    }
  }
  ADD_FAILURE() << "no CMD_FINISH";
}

TEST(SimProcess, AnnouncesItsDeviceAsAVirtualPortUntilItExits) {
  const std::string name = UniqueName("announce");
  SimProcess sim;
  ASSERT_TRUE(sim.Start({"--name", name, "--timeout", "30", "download", "--mode", "software",
                         "--size", "10"}));
  EXPECT_THAT(sim.DevicePath(), ::testing::StartsWith("/dev/pts/"));
  ASSERT_TRUE(fs::is_symlink(LinkOf(name)));
  EXPECT_EQ(fs::read_symlink(LinkOf(name)).string(), sim.DevicePath());

  kill(sim.Pid(), SIGTERM);
  const int status = sim.Wait(5000);
  ASSERT_NE(status, -1);
  EXPECT_FALSE(fs::exists(fs::symlink_status(LinkOf(name))));
}

TEST(SimProcess, SoftwareDownloadOverThePseudoTerminal) {
  const std::vector<uint8_t> data = PatternBytes(5000, 9);
  const std::string expected = ScratchPath("expected.ird");
  WriteFile(expected, data);
  const std::string name = UniqueName("download");
  SimProcess sim;
  ASSERT_TRUE(sim.Start({"--name", name, "--timeout", "20", "download", "--mode", "software",
                         "--expect", expected, "--block-size", "512"}));
  PtyTool tool;
  ASSERT_TRUE(tool.Open(sim.DevicePath()));
  ServeDownload(tool, data);
  tool.Close();

  const int status = sim.Wait(10000);
  ASSERT_TRUE(WIFEXITED(status)) << status;
  EXPECT_EQ(WEXITSTATUS(status), 0) << sim.Stderr();
  EXPECT_THAT(sim.Stderr(), HasSubstr("sim: download ok, 5000 bytes"));
  EXPECT_FALSE(fs::exists(fs::symlink_status(LinkOf(name))));
}

TEST(SimProcess, ToolThatLeavesMidUploadMakesTheEmulatorFail) {
  const std::string served = ScratchPath("served.fdu");
  WriteFile(served, PatternBytes(600, 4));
  SimProcess sim;
  ASSERT_TRUE(sim.Start({"--name", UniqueName("upload"), "--timeout", "20", "upload", "--serve",
                         served}));
  PtyTool tool;
  ASSERT_TRUE(tool.Open(sim.DevicePath()));
  tool.Write(Burst());
  auto request = tool.NextFrame(5000);
  ASSERT_TRUE(request);
  EXPECT_EQ(request->command, CMD_REQUEST);
  tool.Write(WireFrame(request->sequence, CMD_ACCEPT_UPLOAD, {}));
  tool.Write(WireFrame(request->sequence + 1, CMD_SIZE_QUERY, {0, 2}));
  auto size = tool.NextFrame(5000);
  ASSERT_TRUE(size);
  EXPECT_EQ(size->command, CMD_SIZE_REPLY);
  EXPECT_EQ(GetBE32(size->payload.data()), 600u);
  tool.Close();

  const int status = sim.Wait(10000);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 1);
  EXPECT_THAT(sim.Stderr(), HasSubstr("closed the port"));
}

TEST(SimProcess, HangUpAfterBlocksReachesTheTool) {
  SimProcess sim;
  ASSERT_TRUE(sim.Start({"--name", UniqueName("hangup"), "--timeout", "20", "--hangup-after",
                         "1", "download", "--mode", "software", "--size", "3000"}));
  PtyTool tool;
  ASSERT_TRUE(tool.Open(sim.DevicePath()));
  tool.Write(Burst());
  int blocks = 0;
  while (auto frame = tool.NextFrame(5000)) {
    if (frame->command == CMD_REQUEST) tool.Write(WireFrame(frame->sequence, CMD_ACCEPT_DOWNLOAD, {}));
    if (frame->command == CMD_BLOCK_REQUEST) {
      ++blocks;
      tool.Write(WireFrame(frame->sequence, CMD_BLOCK_DATA, std::vector<uint8_t>(1024, 0)));
    }
  }
  // NextFrame ends when reading the device fails: the emulator's end is gone.
  EXPECT_EQ(blocks, 1);
  const int status = sim.Wait(5000);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
}  // namespace kestal::sim::testing

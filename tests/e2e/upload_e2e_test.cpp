// kestal-cli receive against the emulator (and, where the emulator cannot misbehave the way a
// test needs, against a receiver scripted by the test on a pseudo-terminal).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "e2e/e2e_support.h"
#include "link/frame_codec.h"
#include "support/fake_link.h"
#include "support/raw_pty.h"

namespace kestal::e2e {
namespace {

const std::vector<std::string> kCompleted = {"Waiting For Request. Reset SetTop Box.",
                                             "Uploading...", "Transfer complete !"};

class Upload : public ::testing::TestWithParam<size_t> {};

TEST_P(Upload, TargetFileEqualsTheServedData) {
  const size_t size = GetParam();
  ScratchDir dir;
  const std::string served = dir.File("served.fdu");
  const std::string target = dir.File("target.fdu");
  WriteBytes(served, TestBytes(size, static_cast<uint32_t>(size) + 7));

  Sim sim = StartSim({"--timeout", "20", "upload", "--serve", served});
  ASSERT_FALSE(sim.device.empty());
  auto cli = StartCli({"receive", "--port", sim.device, target});
  EXPECT_EQ(cli->Wait().code, 0) << cli->StderrJoined();
  EXPECT_EQ(sim.process->Wait(10s).code, 0) << sim.process->StderrJoined();
  EXPECT_EQ(cli->StderrTexts(), kCompleted);
  EXPECT_EQ(ReadBytes(target), ReadBytes(served));
}

// 255 and 256 straddle the block size; 70000 bytes take 275 blocks, so the sequence counter
// wraps past 255 during the exchange.
INSTANTIATE_TEST_SUITE_P(Sizes, Upload, ::testing::Values(1, 255, 256, 1000, 70000));

TEST(UploadFaults, NoiseBetweenFramesIsSkipped) {
  ScratchDir dir;
  const std::string served = dir.File("served.fdu");
  WriteBytes(served, TestBytes(3000, 11));
  Sim sim = StartSim({"--noise", "40", "--seed", "7", "upload", "--serve", served});
  ASSERT_FALSE(sim.device.empty());
  auto cli = StartCli({"receive", "--port", sim.device, dir.File("target.fdu")});
  EXPECT_EQ(cli->Wait().code, 0) << cli->StderrJoined();
  EXPECT_EQ(ReadBytes(dir.File("target.fdu")), ReadBytes(served));
}

TEST(UploadErrors, EmptyDataSetIsACommunicationError) {
  ScratchDir dir;
  const std::string served = dir.File("served.fdu");
  WriteBytes(served, {});
  Sim sim = StartSim({"--timeout", "5", "upload", "--serve", served});
  ASSERT_FALSE(sim.device.empty());
  auto cli = StartCli({"receive", "--port", sim.device, dir.File("target.fdu")});
  EXPECT_EQ(cli->Wait().code, 1);
  const auto texts = cli->StderrTexts();
  ASSERT_FALSE(texts.empty());
  EXPECT_EQ(texts.back(), "Communication error.");
}

TEST(UploadErrors, HangUpLeavesTheOldTargetIntact) {
  ScratchDir dir;
  const std::string served = dir.File("served.fdu");
  const std::string target = dir.File("target.fdu");
  WriteBytes(served, TestBytes(5000, 12));
  const std::vector<uint8_t> old = TestBytes(777, 13);
  WriteBytes(target, old);

  Sim sim = StartSim({"--hangup-after", "4", "upload", "--serve", served});
  ASSERT_FALSE(sim.device.empty());
  auto cli = StartCli({"receive", "--port", sim.device, target});
  const ChildExit simExit = sim.process->Wait(10s);
  const ChildExit cliExit = cli->Wait(10s);
  EXPECT_EQ(cliExit.code, 1);
  const auto line = cli->WaitForStderrLine("Error : Port disconnected.", 0ms);
  ASSERT_TRUE(line) << cli->StderrJoined();
  EXPECT_LT(line->at - simExit.at, 1s);
  EXPECT_EQ(ReadBytes(target), old);
  // No half-written file is left beside it.
  size_t entries = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir.Path())) {
    ++entries;
  }
  EXPECT_EQ(entries, 2u);
}

TEST(UploadErrors, WriteFailureNamesTheOffsetAndKeepsTheOldTarget) {
  ScratchDir dir;
  const std::string served = dir.File("served.fdu");
  const std::string target = dir.File("target.fdu");
  WriteBytes(served, TestBytes(1000, 14));
  const std::vector<uint8_t> old = TestBytes(100, 15);
  WriteBytes(target, old);

  Sim sim = StartSim({"--timeout", "5", "upload", "--serve", served});
  ASSERT_FALSE(sim.device.empty());
  // Files of the receiving process cannot grow past 600 bytes: the third block (510..764)
  // cannot be written.
  ChildSetup setup;
  setup.fileSizeLimit = 600;
  auto cli = StartCli({"receive", "--port", sim.device, target}, setup);
  EXPECT_EQ(cli->Wait().code, 1);
  const auto texts = cli->StderrTexts();
  ASSERT_FALSE(texts.empty());
  EXPECT_EQ(texts.back(), "Writing error 510") << cli->StderrJoined();
  EXPECT_EQ(ReadBytes(target), old);
}

// A receiver played by the test on a pseudo-terminal: it accepts the upload, reports a size
// and answers every block request with data one byte short, which the tool must refuse.
class ShortBlockReceiver {
 public:
  ShortBlockReceiver() {
    if (!testing::OpenRawPty(m_master, m_slave, m_device)) return;
    m_thread = std::thread([this] { Run(); });
  }
  ~ShortBlockReceiver() {
    m_stop = true;
    if (m_thread.joinable()) m_thread.join();
    close(m_master);
    close(m_slave);
  }
  const std::string& Device() const { return m_device; }
  // Stops answering and counts whatever the tool still sent.
  void Stop() {
    m_stop = true;
    if (m_thread.joinable()) m_thread.join();
    while (Pump(100)) {
    }
  }
  int BlockRequests() const { return m_blockRequests.load(); }

 private:
  void Send(const std::vector<uint8_t>& bytes) {
    [[maybe_unused]] const ssize_t n = write(m_master, bytes.data(), bytes.size());
  }
  void Run() {
    while (!m_stop) Pump(50);
  }
  // Reads what has arrived (waiting up to `timeoutMs`) and answers it; false when nothing came.
  bool Pump(int timeoutMs) {
    pollfd pfd{m_master, POLLIN, 0};
    if (poll(&pfd, 1, timeoutMs) <= 0) return false;
    uint8_t buffer[4096];
    const ssize_t n = read(m_master, buffer, sizeof buffer);
    if (n <= 0) return false;
    auto frames = m_splitter.Feed(buffer, static_cast<size_t>(n));
    if (!m_requested && m_splitter.Loose().size() >= sizeof WakeUpBurst) {
      m_requested = true;
      Send(kestal::testing::WireFrame(0x40, CMD_REQUEST, {0, 0, 0, 0}));
    }
    for (const auto& f : frames) {
      if (f.command == CMD_SIZE_QUERY) {
        Send(kestal::testing::WireFrame(f.sequence, CMD_SIZE_REPLY, {0, 0, 0x03, 0xE8}));
      } else if (f.command == CMD_BLOCK_REQUEST) {
        ++m_blockRequests;
        const size_t asked = GetBE16(f.payload.data());
        Send(kestal::testing::WireFrame(f.sequence, CMD_BLOCK_DATA,
                                        std::vector<uint8_t>(asked - 1)));
      }
    }
    return true;
  }

  kestal::testing::FrameSplitter m_splitter;
  bool m_requested = false;
  int m_master = -1;
  int m_slave = -1;
  std::string m_device;
  std::atomic<bool> m_stop{false};
  std::atomic<int> m_blockRequests{0};
  std::thread m_thread;
};

TEST(UploadErrors, TwentyRefusedAttemptsAreACommunicationErrorWithoutATwentyFirst) {
  ScratchDir dir;
  ShortBlockReceiver receiver;
  ASSERT_FALSE(receiver.Device().empty());
  auto cli = StartCli({"receive", "--port", receiver.Device(), dir.File("target.fdu")});
  EXPECT_EQ(cli->Wait(20s).code, 1);
  const auto texts = cli->StderrTexts();
  ASSERT_FALSE(texts.empty());
  EXPECT_EQ(texts.back(), "Communication error.") << cli->StderrJoined();
  receiver.Stop();
  EXPECT_EQ(receiver.BlockRequests(), 20);
}

}  // namespace
}  // namespace kestal::e2e

// The emulator's end of a real pseudo-terminal: bytes both ways, hang-up, line pacing, and the
// virtual port that kestal-sim announces for it.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

#include "e2e/e2e_support.h"
#include "ports/virtual_ports.h"
#include "sim/byte_pacer.h"
#include "sim/pty_endpoint.h"

namespace kestal::sim::testing {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// The tool's end: the slave device opened raw, as a serial port is.
class RawClient {
 public:
  explicit RawClient(const std::string& path) : m_fd(open(path.c_str(), O_RDWR | O_NOCTTY)) {
    termios tio{};
    if (m_fd >= 0 && tcgetattr(m_fd, &tio) == 0) {
      cfmakeraw(&tio);
      tcsetattr(m_fd, TCSANOW, &tio);
    }
  }
  ~RawClient() { Close(); }
  void Close() {
    if (m_fd >= 0) close(m_fd);
    m_fd = -1;
  }
  int Fd() const { return m_fd; }

 private:
  int m_fd;
};

std::unique_ptr<PtyEndpoint> MakeEndpoint() {
  std::string error;
  auto endpoint = PtyEndpoint::Create(&error);
  EXPECT_NE(endpoint, nullptr) << error;
  return endpoint;
}

// Waits on the endpoint until `count` bytes are queued or it hangs up, at most two seconds.
void WaitForQueued(PtyEndpoint& endpoint, uint32_t count) {
  const uint64_t deadline = endpoint.GetClock().NowMs() + 2000;
  while (endpoint.Queue().Count() < count && !endpoint.IsHungUp() &&
         endpoint.GetClock().NowMs() < deadline) {
    endpoint.WaitForData(deadline);
  }
}

TEST(BytePacer, ReservationsFollowEachOtherAtTenBitsPerByte) {
  BytePacer pacer(115200);
  const auto t0 = Clock::now();
  EXPECT_EQ(pacer.Reserve(11, t0), t0);
  const auto second = pacer.Reserve(11, t0);
  using Micros = std::chrono::duration<double, std::micro>;
  EXPECT_NEAR(Micros(second - t0).count(), 954.86, 0.01);  // 11 bytes x 10 bits / 115200
  EXPECT_EQ(pacer.ChunkBytes(), 11u);
}

TEST(BytePacer, IdleLineBanksNoCredit) {
  BytePacer pacer(9600);
  const auto t0 = Clock::now();
  pacer.Reserve(100, t0);
  const auto later = t0 + std::chrono::seconds(10);
  EXPECT_EQ(pacer.Reserve(1, later), later);
  EXPECT_GT(pacer.Reserve(1, later), later);
}

TEST(BytePacer, WriteRightAfterALateHandOverContinuesTheStream) {
  BytePacer pacer(115200);
  const auto t0 = Clock::now();
  pacer.Reserve(5, t0);                       // the line is free again at t0 + 434 us
  const auto late = t0 + std::chrono::milliseconds(3);  // the writer woke 2.6 ms late
  pacer.Handed(late);
  const auto next = late + std::chrono::microseconds(20);
  const auto lineFree = pacer.LineFreeAt();
  EXPECT_EQ(pacer.Reserve(10, next), lineFree);  // no gap added for the late wake
  // A writer that comes back only after a pause starts afresh.
  const auto paused = pacer.LineFreeAt() + std::chrono::milliseconds(5);
  pacer.Handed(pacer.LineFreeAt());
  EXPECT_EQ(pacer.Reserve(1, paused), paused);
}

TEST(BytePacer, UnpacedNeverWaits) {
  BytePacer pacer;
  const auto t0 = Clock::now();
  pacer.Reserve(100000, t0);
  EXPECT_EQ(pacer.Reserve(100000, t0), t0);
}

TEST(PtyEndpoint, BytesFlowBothWays) {
  auto endpoint = MakeEndpoint();
  RawClient client(endpoint->SlavePath());
  ASSERT_GE(client.Fd(), 0);

  const uint8_t in[] = {1, 2, 3};
  ASSERT_EQ(write(client.Fd(), in, 3), 3);
  WaitForQueued(*endpoint, 3);
  uint8_t b = 0;
  ASSERT_EQ(endpoint->Queue().Count(), 3u);
  endpoint->Queue().Pop(b);
  EXPECT_EQ(b, 1);

  const uint8_t out[] = {'Q', 'z'};
  EXPECT_EQ(endpoint->SendBytes(out, 2), 2);
  pollfd pfd{client.Fd(), POLLIN, 0};
  ASSERT_EQ(poll(&pfd, 1, 2000), 1);
  uint8_t got[2] = {};
  EXPECT_EQ(read(client.Fd(), got, 2), 2);
  EXPECT_EQ(got[1], 'z');
}

TEST(PtyEndpoint, ClientClosingIsAHangUpOnlyOnceTheOwnSlaveIsReleased) {
  auto endpoint = MakeEndpoint();
  {
    RawClient prober(endpoint->SlavePath());
    ASSERT_GE(prober.Fd(), 0);
  }
  endpoint->WaitForData(endpoint->GetClock().NowMs() + 200);
  EXPECT_FALSE(endpoint->IsHungUp());

  RawClient client(endpoint->SlavePath());
  ASSERT_GE(client.Fd(), 0);
  endpoint->ReleaseOwnSlave();
  client.Close();
  WaitForQueued(*endpoint, 1);
  EXPECT_TRUE(endpoint->IsHungUp());
}

// Reads and counts everything the client side receives, on a thread of its own.
class DrainingClient {
 public:
  explicit DrainingClient(const std::string& path) : m_tool(path) {
    EXPECT_GE(m_tool.Fd(), 0);
    m_thread = std::thread([this] {
      uint8_t buffer[4096];
      pollfd pfd{m_tool.Fd(), POLLIN, 0};
      while (!m_stop.load()) {
        if (poll(&pfd, 1, 50) > 0 && read(m_tool.Fd(), buffer, sizeof buffer) <= 0) break;
      }
    });
  }
  ~DrainingClient() {
    m_stop.store(true);
    m_thread.join();
  }

 private:
  RawClient m_tool;
  std::atomic<bool> m_stop{false};
  std::thread m_thread;
};

double SecondsToSend(PtyEndpoint& endpoint, size_t bytes) {
  const std::vector<uint8_t> data(bytes, 0x55);
  const auto start = Clock::now();
  EXPECT_EQ(endpoint.SendBytes(data.data(), static_cast<int>(data.size())),
            static_cast<int>(bytes));
  return std::chrono::duration<double>(Clock::now() - start).count();
}

TEST(PtyEndpoint, WritesTakeTheLineTimeOfTheBaudRateOnlyWhenPaced) {
  auto endpoint = MakeEndpoint();
  DrainingClient client(endpoint->SlavePath());
  EXPECT_LT(SecondsToSend(*endpoint, 11520), 0.5);
  endpoint->SetBaud(115200);
  const double seconds = SecondsToSend(*endpoint, 11520);
  EXPECT_GT(seconds, 0.9);
  EXPECT_LT(seconds, 1.6);
}

// The virtual port lives as long as the emulator; removal after a normal end is checked where
// kestal-cli transfers through a port's name.
TEST(SimProcess, AnnouncesItsDeviceAsAVirtualPortUntilItIsTerminated) {
  const std::string name = "simtest-announce-" + std::to_string(getpid());
  e2e::Sim sim = e2e::StartSim(
      {"--name", name, "--timeout", "30", "download", "--mode", "software", "--size", "10"});
  ASSERT_THAT(sim.device, ::testing::StartsWith("/dev/pts/"));
  const std::filesystem::path link = std::filesystem::path(VirtualPortDirectory()) / name;
  ASSERT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_EQ(std::filesystem::read_symlink(link).string(), sim.device);

  sim.process->Signal(SIGTERM);
  ASSERT_NE(sim.process->Wait(5s).code, -1);
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));
}

}  // namespace
}  // namespace kestal::sim::testing

// SerialLink over real pseudo-terminal pairs: the test holds the master side, the link opens
// the slave side by its path. Real time is used here, in short waits.
#include "link/serial_link.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/resource.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "link/frame_codec.h"
#include "ports/port_info.h"
#include "support/fake_link.h"

namespace kestal {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;
using SteadyTime = std::chrono::steady_clock;

bool WaitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds limit = 2000ms) {
  const auto end = SteadyTime::now() + limit;
  while (!condition()) {
    if (SteadyTime::now() > end) return false;
    std::this_thread::sleep_for(2ms);
  }
  return true;
}

double ProcessCpuMs() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) * 1000.0 + static_cast<double>(ts.tv_nsec) / 1e6;
}

size_t OpenDescriptorCount() {
  size_t n = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) ++n;
  return n;
}

Bytes AllByteValues(size_t repeat) {
  Bytes bytes;
  for (size_t r = 0; r < repeat; ++r)
    for (int v = 0; v < 256; ++v) bytes.push_back(static_cast<uint8_t>(v));
  return bytes;
}

class SerialLinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(openpty(&m_master, &m_slave, nullptr, nullptr, nullptr), 0);
    port.m_strDevicePath = ttyname(m_slave);
    port.m_strPortName = "pty";
    port.m_strFriendlyName = "Test Port (pty)";
    link.SetNoticeHandler([this](const std::string& text) {
      std::lock_guard lock(m_noticeMutex);
      m_notices.push_back(text);
    });
  }
  void TearDown() override {
    link.CloseLink();
    CloseMaster();
    if (m_slave >= 0) ::close(m_slave);
  }

  void CloseMaster() {
    if (m_master >= 0) ::close(m_master);
    m_master = -1;
  }

  void WriteMaster(const Bytes& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = ::write(m_master, bytes.data() + done, bytes.size() - done);
      ASSERT_GT(n, 0);
      done += static_cast<size_t>(n);
    }
  }

  Bytes ReadMaster(size_t count, std::chrono::milliseconds limit = 2000ms) {
    Bytes got;
    const auto end = SteadyTime::now() + limit;
    while (got.size() < count && SteadyTime::now() < end) {
      pollfd pfd{m_master, POLLIN, 0};
      if (::poll(&pfd, 1, 50) <= 0) continue;
      uint8_t chunk[4096];
      const ssize_t n = ::read(m_master, chunk, sizeof chunk);
      if (n <= 0) break;
      got.insert(got.end(), chunk, chunk + n);
    }
    return got;
  }

  // Takes `count` bytes out of the queue as the frame reader would, sleeping in WaitForData.
  Bytes DrainQueue(size_t count) {
    Bytes got;
    const uint64_t deadline = link.GetClock().NowMs() + 2000;
    while (got.size() < count && link.GetClock().NowMs() < deadline) {
      uint8_t b = 0;
      if (link.m_QueueRead.Pop(b)) {
        got.push_back(b);
      } else {
        link.WaitForData(deadline);
      }
    }
    return got;
  }

  std::vector<std::string> Notices() {
    std::lock_guard lock(m_noticeMutex);
    return m_notices;
  }

  PortInfo port;
  SerialLink link;
  int m_master = -1;
  int m_slave = -1;

 private:
  std::mutex m_noticeMutex;
  std::vector<std::string> m_notices;
};

// --- opening ------------------------------------------------------------------------------

TEST_F(SerialLinkTest, OpensTheSlaveAndKeepsTheFriendlyName) {
  ASSERT_EQ(link.OpenLink(port, 115200), 1);
  EXPECT_TRUE(link.IsOpen());
  EXPECT_FALSE(link.IsHungUp());
  EXPECT_EQ(link.FriendlyName(), "Test Port (pty)");
}

TEST_F(SerialLinkTest, FailedOpensLeaveNothingOpen) {
  const size_t before = OpenDescriptorCount();
  PortInfo missing = port;
  missing.m_strDevicePath = "/dev/kestal-no-such-port";
  EXPECT_EQ(link.OpenLink(missing, 115200), 0);
  PortInfo notATerminal = port;
  notATerminal.m_strDevicePath = "/dev/null";
  EXPECT_EQ(link.OpenLink(notATerminal, 115200), 0);
  EXPECT_EQ(link.OpenLink(port, 12345), 0) << "a rate the line cannot be set to";
  EXPECT_FALSE(link.IsOpen());
  EXPECT_EQ(OpenDescriptorCount(), before);
  SerialLink other;
  EXPECT_EQ(other.OpenLink(port, 115200), 1) << "the failed attempt kept no lock";
  other.CloseLink();
}

TEST_F(SerialLinkTest, SecondOpenOfAHeldPortFails) {
  ASSERT_EQ(link.OpenLink(port, 115200), 1);
  SerialLink other;
  EXPECT_EQ(other.OpenLink(port, 115200), 0);
  EXPECT_FALSE(other.IsOpen());

  // The refused attempt did not disturb the holder.
  WriteMaster({1, 2, 3});
  EXPECT_EQ(DrainQueue(3), Bytes({1, 2, 3}));

  link.CloseLink();
  EXPECT_EQ(other.OpenLink(port, 115200), 1) << "free again once closed";
  other.CloseLink();
}

TEST_F(SerialLinkTest, CloseThenReopenDeliversNewBytesOnce) {
  ASSERT_EQ(link.OpenLink(port, 115200), 1);
  WriteMaster({10, 11});
  EXPECT_EQ(DrainQueue(2), Bytes({10, 11}));
  link.CloseLink();
  EXPECT_FALSE(link.IsOpen());
  link.m_QueueRead.Reset();

  ASSERT_EQ(link.OpenLink(port, 115200), 1);
  const Bytes data = AllByteValues(8);
  WriteMaster(data);
  EXPECT_EQ(DrainQueue(data.size()), data);
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(link.m_QueueRead.Count(), 0u) << "a single reader: nothing duplicated";
}

TEST_F(SerialLinkTest, OpeningAnOpenLinkReplacesItsPort) {
  ASSERT_EQ(link.OpenLink(port, 115200), 1);
  ASSERT_EQ(link.OpenLink(port, 115200), 1);
  WriteMaster({7, 8, 9});
  EXPECT_EQ(DrainQueue(3), Bytes({7, 8, 9}));
}

TEST_F(SerialLinkTest, ClosingAClosedLinkIsHarmless) {
  link.CloseLink();
  link.CloseLink();
  EXPECT_FALSE(link.IsOpen());
  const uint8_t b = 0x55;
  EXPECT_EQ(link.SendBytes(&b, 1), 0);
  uint8_t out = 0;
  EXPECT_EQ(link.FetchBytes(&out, 1), 0);
  const auto begin = SteadyTime::now();
  link.WaitForData(link.GetClock().NowMs() + 2000);
  EXPECT_LT(SteadyTime::now() - begin, 100ms) << "nothing to wait for on a closed link";
}

// --- receiving ----------------------------------------------------------------------------

TEST_F(SerialLinkTest, EveryByteValueArrivesUnchangedAndInOrder) {
  ASSERT_EQ(link.OpenLink(port, 115200), 1);
  const Bytes data = AllByteValues(24);  // 6144 bytes: several reads, well within the queue
  WriteMaster(data);
  EXPECT_EQ(DrainQueue(data.size()), data);
}

TEST_F(SerialLinkTest, FramesWrittenByThePeerAreReceived) {
  ASSERT_EQ(link.OpenLink(port, 115200), 1);
  Bytes payload(1000);
  for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<uint8_t>(255 - i);
  Bytes stream = {0x0D, 0x01, 0x0D, 0x00};  // line noise first
  const Bytes first = testing::WireFrame(0x12, CMD_BLOCK_DATA, payload);
  const Bytes second = testing::WireFrame(0x13, CMD_FINISH, {});
  stream.insert(stream.end(), first.begin(), first.end());
  stream.insert(stream.end(), second.begin(), second.end());
  WriteMaster(stream);

  Bytes buffer(FRAME_BUFFER_SIZE);
  ASSERT_EQ(ReceiveFrame(buffer.data(), link), FRAME_OK);
  EXPECT_EQ(buffer[0], 0x12);
  EXPECT_EQ(GetBE16(buffer.data() + 2), 1000);
  EXPECT_TRUE(std::equal(payload.begin(), payload.end(), buffer.begin() + 4));
  ASSERT_EQ(ReceiveFrame(buffer.data(), link), FRAME_OK);
  EXPECT_EQ(buffer[1], CMD_FINISH);
}

// The reader leaves the port alone while a long frame trickles in at the line's pace; the frame
// must still be there, whole, as soon as its last piece is.
TEST_F(SerialLinkTest, FrameTricklingInAtLinePaceIsHandedOverWithItsLastPiece) {
  ASSERT_EQ(link.OpenLink(port, 115200), 1);
  Bytes payload(255);
  for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<uint8_t>(i * 7);
  const Bytes wire = testing::WireFrame(0x21, CMD_BLOCK_DATA, payload);
  std::atomic<int64_t> lastPieceNs{0};
  std::thread line([&] {
    // As a 115200-baud port delivers it: 11 bytes every 955 us.
    auto due = SteadyTime::now();
    for (size_t at = 0; at < wire.size(); at += 11) {
      std::this_thread::sleep_until(due += 955us);
      WriteMaster(Bytes(wire.begin() + static_cast<long>(at),
                        wire.begin() + static_cast<long>(std::min(at + 11, wire.size()))));
    }
    lastPieceNs = SteadyTime::now().time_since_epoch().count();
  });
  Bytes buffer(FRAME_BUFFER_SIZE);
  int result = FRAME_TIMEOUT;
  while (result == FRAME_TIMEOUT) result = ReceiveFrame(buffer.data(), link);
  const int64_t receivedNs = SteadyTime::now().time_since_epoch().count();
  line.join();
  ASSERT_EQ(result, FRAME_OK);
  EXPECT_TRUE(std::equal(payload.begin(), payload.end(), buffer.begin() + 4));
  // Held back by a nap that ended too late, it would come up to 50 ms after its last piece.
  EXPECT_LT(receivedNs - lastPieceNs.load(), std::chrono::nanoseconds(20ms).count());
}

TEST_F(SerialLinkTest, WaitForDataWakesWhenBytesArrive) {
  ASSERT_EQ(link.OpenLink(port, 115200), 1);
  std::thread peer([this] {
    std::this_thread::sleep_for(30ms);
    WriteMaster({0x42});
  });
  const auto begin = SteadyTime::now();
  link.WaitForData(link.GetClock().NowMs() + 5000);
  const auto waited = SteadyTime::now() - begin;
  peer.join();
  EXPECT_EQ(link.m_QueueRead.Count(), 1u);
  EXPECT_LT(waited, 1000ms);
}

TEST_F(SerialLinkTest, WaitForDataReturnsAtItsDeadline) {
  ASSERT_EQ(link.OpenLink(port, 115200), 1);
  const auto begin = SteadyTime::now();
  link.WaitForData(link.GetClock().NowMs() + 60);
  const auto waited = SteadyTime::now() - begin;
  EXPECT_GE(waited, 55ms);
  EXPECT_LT(waited, 1000ms);
}

TEST_F(SerialLinkTest, CloseWakesAWaitingFrameReader) {
  ASSERT_EQ(link.OpenLink(port, 115200), 1);
  std::atomic<int> result{1};
  std::atomic<bool> done{false};
  std::thread worker([&] {
    uint8_t buffer[FRAME_BUFFER_SIZE];
    for (int i = 0; i < 10 && !done; ++i) {  // a worker calls again after each time-out
      result = ReceiveFrame(buffer, link);
      if (!link.IsOpen()) done = true;
    }
  });
  std::this_thread::sleep_for(50ms);
  link.CloseLink();
  EXPECT_TRUE(WaitUntil([&] { return done.load(); }, 300ms));
  worker.join();
  EXPECT_EQ(result.load(), FRAME_TIMEOUT);
}

TEST_F(SerialLinkTest, ChunkThatDoesNotFitIsDroppedWithANotice) {
  ASSERT_EQ(link.OpenLink(port, 115200), 1);
  Bytes data(8192);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 31 + i / 256);
  WriteMaster(Bytes(data.begin(), data.begin() + 6144));
  ASSERT_TRUE(WaitUntil([&] { return link.m_QueueRead.Count() == 6144; }));
  // However the driver splits them, 2047 more bytes fit whole.
  WriteMaster(Bytes(data.begin() + 6144, data.begin() + 8191));
  ASSERT_TRUE(WaitUntil([&] { return link.m_QueueRead.Count() == 8191; }));
  EXPECT_TRUE(Notices().empty());

  WriteMaster({0xEE});
  ASSERT_TRUE(WaitUntil([&] { return !Notices().empty(); }));
  EXPECT_THAT(Notices(), ::testing::ElementsAre("m_QueueRead FULL!"));
  EXPECT_EQ(link.m_QueueRead.Count(), 8191u);
  EXPECT_EQ(DrainQueue(8191), Bytes(data.begin(), data.begin() + 8191));

  // The reader carries on after a dropped chunk.
  WriteMaster({0x01, 0x02});
  EXPECT_EQ(DrainQueue(2), Bytes({0x01, 0x02}));
}

// --- hang-up and idling -------------------------------------------------------------------

TEST_F(SerialLinkTest, QuietLinkCostsNoCpu) {
  ASSERT_EQ(link.OpenLink(port, 115200), 1);
  std::this_thread::sleep_for(20ms);
  const double before = ProcessCpuMs();
  std::this_thread::sleep_for(300ms);
  EXPECT_LT(ProcessCpuMs() - before, 30.0);
}

TEST_F(SerialLinkTest, PeerGoingAwayIsNoticedAndDoesNotSpin) {
  ASSERT_EQ(link.OpenLink(port, 115200), 1);
  WriteMaster({5, 6});
  ASSERT_EQ(DrainQueue(2), Bytes({5, 6}));
  CloseMaster();
  ASSERT_TRUE(WaitUntil([&] { return link.IsHungUp(); }, 1000ms));
  EXPECT_TRUE(link.IsOpen()) << "still open until the owner closes it";

  Bytes buffer(FRAME_BUFFER_SIZE);
  const auto begin = SteadyTime::now();
  EXPECT_EQ(ReceiveFrame(buffer.data(), link), FRAME_HANGUP);
  EXPECT_LT(SteadyTime::now() - begin, 100ms);

  const double before = ProcessCpuMs();
  std::this_thread::sleep_for(300ms);
  EXPECT_LT(ProcessCpuMs() - before, 30.0);

  const auto closeBegin = SteadyTime::now();
  link.CloseLink();
  EXPECT_LT(SteadyTime::now() - closeBegin, 100ms);
}

// --- sending ------------------------------------------------------------------------------

TEST_F(SerialLinkTest, SentBytesArriveUnchanged) {
  ASSERT_EQ(link.OpenLink(port, 115200), 1);
  const Bytes data = AllByteValues(4);  // includes CR, LF, XON, XOFF and ^C
  EXPECT_EQ(link.SendBytes(data.data(), static_cast<int>(data.size())),
            static_cast<int>(data.size()));
  EXPECT_EQ(ReadMaster(data.size()), data);
}

TEST_F(SerialLinkTest, SentFrameArrivesAsTheWakeUpBurstAndFrameBytes) {
  ASSERT_EQ(link.OpenLink(port, 115200), 1);
  EXPECT_EQ(link.SendBytes(WakeUpBurst, sizeof WakeUpBurst), 10);
  const uint8_t frame[4] = {0x07, CMD_ACCEPT_DOWNLOAD, 0x00, 0x00};
  SendFrame(link, frame);
  EXPECT_EQ(ReadMaster(20), Bytes({0x0D, 0x01, 0x0D, 0x01, 0x0D, 0, 0, 0, 0, 0, 'Q', 'z', 'V',
                                   'k', 0x0D, 0x07, 0x02, 0x00, 0x00, 0x09}));
}

TEST_F(SerialLinkTest, CloseReleasesAWriterBlockedOnAFullLine) {
  ASSERT_EQ(link.OpenLink(port, 115200), 1);
  // Nobody reads the master, so the line fills up long before this is written.
  const Bytes big(8 * 1024 * 1024, 0x5A);
  std::atomic<int> sendResult{0};
  std::atomic<bool> sendReturned{false};
  std::thread writer([&] {
    sendResult = link.SendBytes(big.data(), static_cast<int>(big.size()));
    sendReturned = true;
  });
  std::this_thread::sleep_for(150ms);
  ASSERT_FALSE(sendReturned.load()) << "the write should still be waiting for room";

  const auto begin = SteadyTime::now();
  link.CloseLink();
  EXPECT_LT(SteadyTime::now() - begin, 100ms);
  EXPECT_TRUE(WaitUntil([&] { return sendReturned.load(); }, 500ms));
  while (!sendReturned) ReadMaster(1 << 20, 50ms);  // fail rather than hang: let it finish
  writer.join();
  EXPECT_EQ(sendResult.load(), -1);

  ASSERT_EQ(link.OpenLink(port, 115200), 1) << "the port is free again after the writer let go";
}

// --- reader set-up failure ----------------------------------------------------------------

// Leaves exactly one free descriptor slot, so the port opens but the wake-up descriptor cannot.
class OneFreeDescriptor {
 public:
  OneFreeDescriptor() {
    getrlimit(RLIMIT_NOFILE, &m_saved);
    int highest = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
      highest = std::max(highest, std::stoi(entry.path().filename().string()));
    rlimit lowered = m_saved;
    lowered.rlim_cur = static_cast<rlim_t>(highest + 8);
    setrlimit(RLIMIT_NOFILE, &lowered);
    for (int fd; (fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;) m_fillers.push_back(fd);
    ::close(m_fillers.back());
    m_fillers.pop_back();
  }
  ~OneFreeDescriptor() {
    for (int fd : m_fillers) ::close(fd);
    setrlimit(RLIMIT_NOFILE, &m_saved);
  }

 private:
  rlimit m_saved{};
  std::vector<int> m_fillers;
};

TEST_F(SerialLinkTest, ReaderThatCannotBeSetUpIsReportedAndTheOpenFails) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the sanitizer runtime needs descriptors of its own while they are used up";
#endif
  int result = 1;
  {
    OneFreeDescriptor limit;
    result = link.OpenLink(port, 115200);
  }
  EXPECT_EQ(result, 0);
  EXPECT_FALSE(link.IsOpen());
  EXPECT_THAT(Notices(),
              ::testing::ElementsAre("Error while creating ThreadWatchComm, Test Port (pty)"));
  EXPECT_EQ(link.OpenLink(port, 115200), 1) << "the failed open released the port";
}

}  // namespace
}  // namespace kestal

// What only a real port shows: the driver's answers to open, and a far end that goes away.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

#include "link/serial_link.h"

namespace kestal {
namespace {

// The master side of a fresh pseudo-terminal; the slave's path is the port.
struct PseudoTerminal {
  PseudoTerminal() {
    master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0) path = ptsname(master);
  }
  ~PseudoTerminal() { CloseMaster(); }
  void CloseMaster() {
    if (master >= 0) close(master);
    master = -1;
  }
  int master = -1;
  std::string path;
};

constexpr uint64_t kLongMs = 60'000;  // only ever waited out if the link is broken

TEST(SerialLink, FarEndClosingIsAHangUpAfterItsLastBytes) {
  PseudoTerminal pty;
  SerialLink link;
  ASSERT_EQ(link.OpenLink(pty.path, 115200), OpenResult::Ok);
  ASSERT_EQ(write(pty.master, "abc", 3), 3);
  const uint64_t deadline = link.GetClock().NowMs() + kLongMs;
  while (link.Queue().Count() < 3 && link.GetClock().NowMs() < deadline) {
    link.WaitForBytes(deadline, 3);
  }
  pty.CloseMaster();
  while (!link.IsHungUp() && link.GetClock().NowMs() < deadline) link.WaitForData(deadline);
  EXPECT_TRUE(link.IsHungUp());
  EXPECT_EQ(link.Queue().Count(), 3u);
}

TEST(SerialLink, APortHeldOpenIsBusy) {
  PseudoTerminal pty;
  SerialLink first;
  SerialLink second;
  ASSERT_EQ(first.OpenLink(pty.path, 115200), OpenResult::Ok);
  EXPECT_EQ(second.OpenLink(pty.path, 115200), OpenResult::Busy);
  first.CloseLink();
  EXPECT_EQ(second.OpenLink(pty.path, 115200), OpenResult::Ok) << "closing lets go";
}

TEST(SerialLink, OpenSaysWhyItFailed) {
  const auto file =
      std::filesystem::temp_directory_path() / ("kestal-not-a-tty-" + std::to_string(getpid()));
  std::ofstream(file) << "x";
  SerialLink link;
  EXPECT_EQ(link.OpenLink(file.string(), 115200), OpenResult::NotSerial);
  EXPECT_FALSE(link.IsOpen());
  std::filesystem::remove(file);
  EXPECT_EQ(link.OpenLink(file.string(), 115200), OpenResult::NoSuchDevice);
  EXPECT_EQ(link.SendBytes(reinterpret_cast<const uint8_t*>("x"), 1), SendResult::Closed);
}

// Read by the link's reader thread while the test moves it.
struct SteppedClock : Clock {
  uint64_t NowMs() const override { return now.load(); }
  void Advance(uint64_t ms) { now += ms; }
  std::atomic<uint64_t> now{1000};
};

// Noise at full speed into a queue nobody empties: one notice a second, with the bytes lost.
TEST(SerialLink, OverflowIsReportedOnceASecond) {
  PseudoTerminal pty;
  SteppedClock clock;
  SerialLink link(clock);
  std::mutex mutex;
  std::vector<std::string> notices;
  link.SetNoticeHandler([&](const std::string& text) {
    std::lock_guard lock(mutex);
    notices.push_back(text);
  });
  ASSERT_EQ(link.OpenLink(pty.path, 115200), OpenResult::Ok);
  const std::string noise(64 * 1024, 'x');
  ASSERT_EQ(write(pty.master, noise.data(), noise.size()), static_cast<ssize_t>(noise.size()));
  auto lastNotice = [&] {
    std::lock_guard lock(mutex);
    return notices.empty() ? std::string() : notices.back();
  };
  while (lastNotice().empty()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  clock.Advance(1000);  // the reader sees the new time with the next chunk it drops
  ASSERT_EQ(write(pty.master, noise.data(), noise.size()), static_cast<ssize_t>(noise.size()));
  for (int i = 0; i < 10'000 && lastNotice().find("so far") == std::string::npos; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  std::lock_guard lock(mutex);
  ASSERT_EQ(notices.size(), 2u);
  EXPECT_EQ(notices[0], "m_QueueRead FULL!");
  EXPECT_EQ(notices[1].rfind("m_QueueRead FULL! ", 0), 0u) << notices[1];
}

}  // namespace
}  // namespace kestal

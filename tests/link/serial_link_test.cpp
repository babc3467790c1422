// What only a real port shows: the driver's answers to open, and a far end that goes away.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

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

}  // namespace
}  // namespace kestal

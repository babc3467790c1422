// The finishing pass that completes every discovered record, and the order ports are listed in.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "ports/natural_order.h"
#include "ports/port_discovery.h"

namespace kestal {
namespace {

struct FinishCase {
  std::string portName, friendlyName, description;  // before the pass
  std::string expectedFriendly, expectedDescription;
};

TEST(FinishingPass, FillsFriendlyNameAndDescription) {
  const FinishCase cases[] = {
      // The description drops a trailing " (...)" only when the first ")" is the last character.
      {"COM1", "Communications Port (COM1)", "", "Communications Port (COM1)", "Communications Port"},
      {"COM2", "Port (A) (COM2)", "", "Port (A) (COM2)", "Port (A) (COM2)"},
      {"x", " (x)", "", " (x)", " (x)"},  // opening at position 0
      {"p", "Plain", "", "Plain", "Plain"},
      {"p", "Closing only)", "", "Closing only)", "Closing only)"},
      {"p", "Open (never closed", "", "Open (never closed", "Open (never closed"},
      {"p", "A)(B (C)", "", "A)(B (C)", "A)(B (C)"},
      {"p", "Name(ttyS0)", "", "Name(ttyS0)", "Name(ttyS0)"},  // no space before "("
      {"COM2", "", "", "COM2", "COM2"},  // no friendly name: the port name
      {"COM3", "Communications Port (COM3)", "16550 UART", "Communications Port (COM3)", "16550 UART"},
      {"", "", "", "", ""},
  };
  for (const FinishCase& c : cases) {
    PortInfo record;
    record.m_strDevicePath = "/dev/" + c.portName;
    record.m_strPortName = c.portName;
    record.m_strFriendlyName = c.friendlyName;
    record.m_strDescription = c.description;
    FinishPortRecord(record);
    EXPECT_EQ(record.m_strFriendlyName, c.expectedFriendly) << c.friendlyName;
    EXPECT_EQ(record.m_strDescription, c.expectedDescription) << c.friendlyName;
  }
}

TEST(NaturalOrder, NumbersCompareByValueAndTheOrderIsStrict) {
  EXPECT_TRUE(NaturalLess("ttyUSB2", "ttyUSB10"));
  EXPECT_FALSE(NaturalLess("ttyUSB10", "ttyUSB2"));
  EXPECT_TRUE(NaturalLess("ttyUSB100", "ttyUSB99999999999999999999999"));
  // Names differing only in leading zeros still have an order.
  EXPECT_NE(NaturalLess("ttyS01", "ttyS1"), NaturalLess("ttyS1", "ttyS01"));
  EXPECT_FALSE(NaturalLess("ttyS1", "ttyS1"));
}

TEST(NaturalOrder, SortsShuffledPortNames) {
  const std::vector<std::string> ordered = {"tty", "ttyACM0", "ttyACM1", "ttyS0", "ttyS2",
                                            "ttyS10", "ttyUSB0", "ttyUSB2", "ttyUSB10",
                                            "ttyUSB10a", "ttyUSB11"};
  std::vector<std::string> names = ordered;
  std::mt19937 shuffler(12345);
  for (int round = 0; round < 20; ++round) {
    std::shuffle(names.begin(), names.end(), shuffler);
    std::sort(names.begin(), names.end(),
              [](const std::string& a, const std::string& b) { return NaturalLess(a, b); });
    ASSERT_EQ(names, ordered);
  }
}

}  // namespace
}  // namespace kestal

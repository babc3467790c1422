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

PortInfo Record(const std::string& portName, const std::string& friendlyName,
                const std::string& description = {}) {
  PortInfo record;
  record.m_strDevicePath = "/dev/" + portName;
  record.m_strPortName = portName;
  record.m_strFriendlyName = friendlyName;
  record.m_strDescription = description;
  return record;
}

TEST(FinishingPass, DescriptionDropsTrailingPortInParentheses) {
  PortInfo record = Record("COM1", "Communications Port (COM1)");
  FinishPortRecord(record);
  EXPECT_EQ(record.m_strFriendlyName, "Communications Port (COM1)");
  EXPECT_EQ(record.m_strDescription, "Communications Port");
}

TEST(FinishingPass, FirstClosingParenthesisNotLastKeepsWholeText) {
  PortInfo record = Record("COM2", "Port (A) (COM2)");
  FinishPortRecord(record);
  EXPECT_EQ(record.m_strDescription, "Port (A) (COM2)");
}

TEST(FinishingPass, OpeningAtPositionZeroKeepsWholeText) {
  PortInfo record = Record("x", " (x)");
  FinishPortRecord(record);
  EXPECT_EQ(record.m_strDescription, " (x)");
}

TEST(FinishingPass, TextWithoutOpeningOrClosingKeepsWholeText) {
  for (const std::string name : {"Plain", "Closing only)", "Open (never closed", "A)(B (C)"}) {
    PortInfo record = Record("p", name);
    FinishPortRecord(record);
    EXPECT_EQ(record.m_strDescription, name);
  }
}

TEST(FinishingPass, ParenthesisWithoutLeadingSpaceIsNotCut) {
  PortInfo record = Record("p", "Name(ttyS0)");
  FinishPortRecord(record);
  EXPECT_EQ(record.m_strDescription, "Name(ttyS0)");
}

TEST(FinishingPass, EmptyFriendlyNameTakesPortName) {
  PortInfo record = Record("COM2", "");
  FinishPortRecord(record);
  EXPECT_EQ(record.m_strFriendlyName, "COM2");
  EXPECT_EQ(record.m_strDescription, "COM2");
}

TEST(FinishingPass, ExistingDescriptionStays) {
  PortInfo record = Record("COM3", "Communications Port (COM3)", "16550 UART");
  FinishPortRecord(record);
  EXPECT_EQ(record.m_strDescription, "16550 UART");
  EXPECT_EQ(record.m_strFriendlyName, "Communications Port (COM3)");
}

TEST(FinishingPass, EmptyPortAndFriendlyNameStayEmpty) {
  PortInfo record = Record("", "");
  FinishPortRecord(record);
  EXPECT_EQ(record.m_strFriendlyName, "");
  EXPECT_EQ(record.m_strDescription, "");
}

TEST(NaturalOrder, NumbersCompareByValue) {
  EXPECT_TRUE(NaturalLess("ttyUSB2", "ttyUSB10"));
  EXPECT_FALSE(NaturalLess("ttyUSB10", "ttyUSB2"));
  EXPECT_TRUE(NaturalLess("ttyUSB100", "ttyUSB99999999999999999999999"));
}

TEST(NaturalOrder, IsStrictForNamesDifferingOnlyInLeadingZeros) {
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

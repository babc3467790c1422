#include "image/crc16.h"

#include <gtest/gtest.h>

#include <string>

#include "image/scratch_files.h"

namespace kestal {
namespace {

// Bit-at-a-time CRC-16/ARC, the definition the table-driven form must agree with.
uint16_t BitwiseCrc16(const uint8_t* data, size_t count) {
  uint16_t crc = 0;
  for (size_t i = 0; i < count; ++i) {
    crc ^= data[i];
    for (int bit = 0; bit < 8; ++bit) {
      crc = (crc & 1U) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001) : static_cast<uint16_t>(crc >> 1);
    }
  }
  return crc;
}

TEST(Crc16, CheckValueOfTheNineDigitsAndZeroForNothing) {
  const std::string digits = "123456789";
  EXPECT_EQ(Crc16(reinterpret_cast<const uint8_t*>(digits.data()), digits.size()), 0xBB3D);
  EXPECT_EQ(Crc16(nullptr, 0), 0);
}

// With the register at 0, one byte b gives table entry b: this checks all 256 entries, and a
// long input checks the table's use.
TEST(Crc16, MatchesTheBitwiseDefinition) {
  for (int b = 0; b < 256; ++b) {
    const auto byte = static_cast<uint8_t>(b);
    EXPECT_EQ(Crc16(&byte, 1), BitwiseCrc16(&byte, 1)) << "byte " << b;
  }
  const auto bytes = testing::RandomBytes(70000, 7);
  EXPECT_EQ(Crc16(bytes.data(), bytes.size()), BitwiseCrc16(bytes.data(), bytes.size()));
}

}  // namespace
}  // namespace kestal

#include "image/crc16.h"

#include <array>

namespace kestal {
namespace {

constexpr uint16_t kReflectedPoly = 0xA001;

// Entry i: the register after shifting i right eight times, XOR-ing the polynomial in after
// each shift that drops a 1 bit.
constexpr std::array<uint16_t, 256> MakeCrc16Table() {
  std::array<uint16_t, 256> table{};
  for (uint32_t i = 0; i < table.size(); ++i) {
    uint32_t reg = i;
    for (int bit = 0; bit < 8; ++bit) {
      reg = (reg & 1U) ? (reg >> 1) ^ kReflectedPoly : reg >> 1;
    }
    table[i] = static_cast<uint16_t>(reg);
  }
  return table;
}

constexpr std::array<uint16_t, 256> kCrc16Table = MakeCrc16Table();
static_assert(kCrc16Table[1] == 0xC0C1);

}  // namespace

uint16_t Crc16(const uint8_t* data, size_t count) {
  uint16_t crc = 0;
  for (size_t i = 0; i < count; ++i) {
    crc = static_cast<uint16_t>(kCrc16Table[(crc ^ data[i]) & 0xFFU] ^ (crc >> 8));
  }
  return crc;
}

}  // namespace kestal

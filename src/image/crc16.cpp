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

// Slicing by eight: table k gives what a byte contributes when k more bytes follow it, so eight
// bytes take eight independent look-ups instead of a chain of eight dependent ones. Still one
// look-up per byte; a block's CRC no longer costs a noticeable share of packing it.
using SliceTables = std::array<std::array<uint16_t, 256>, 8>;

constexpr SliceTables MakeSliceTables() {
  SliceTables tables{};
  tables[0] = kCrc16Table;
  for (size_t k = 1; k < tables.size(); ++k) {
    for (size_t i = 0; i < 256; ++i) {
      const uint16_t previous = tables[k - 1][i];
      tables[k][i] = static_cast<uint16_t>((previous >> 8) ^ kCrc16Table[previous & 0xFFU]);
    }
  }
  return tables;
}

constexpr SliceTables kSlices = MakeSliceTables();

uint16_t CrcByte(uint16_t crc, uint8_t byte) {
  return static_cast<uint16_t>(kCrc16Table[(crc ^ byte) & 0xFFU] ^ (crc >> 8));
}

}  // namespace

uint16_t Crc16(const uint8_t* data, size_t count) {
  uint16_t crc = 0;
  size_t i = 0;
  for (; i + 8 <= count; i += 8) {
    const uint8_t* p = data + i;
    const auto low = static_cast<uint8_t>(crc ^ p[0]);
    const auto high = static_cast<uint8_t>((crc >> 8) ^ p[1]);
    crc = static_cast<uint16_t>(kSlices[7][low] ^ kSlices[6][high] ^ kSlices[5][p[2]] ^
                                kSlices[4][p[3]] ^ kSlices[3][p[4]] ^ kSlices[2][p[5]] ^
                                kSlices[1][p[6]] ^ kSlices[0][p[7]]);
  }
  for (; i < count; ++i) crc = CrcByte(crc, data[i]);
  return crc;
}

}  // namespace kestal

#pragma once
#include <cstddef>
#include <cstdint>

namespace kestal {

// CRC-16/ARC: reflected polynomial 0xA001, initial 0, no final XOR. Check value 0xBB3D.
uint16_t Crc16(const uint8_t* data, size_t count);

}  // namespace kestal

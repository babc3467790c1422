#pragma once
// Codes naming the kind of data a transfer carries; shared by the frame protocol (the payload of
// CMD_SIZE_QUERY) and the channel image (every block's type code).
#include <cstdint>

namespace kestal {

constexpr uint16_t DATA_TYPE_CHANNELS = 2;

}  // namespace kestal

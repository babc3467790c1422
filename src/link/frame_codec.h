#pragma once
// Frames on the wire: "QzVk" CR, sequence, command, 16-bit big-endian length, payload, 8-bit sum.
#include <cstddef>
#include <cstdint>

#include "common/byte_order.h"
#include "common/data_types.h"
#include "link/link.h"

namespace kestal {

// Command table.
constexpr uint8_t CMD_REQUEST = 1;
constexpr uint8_t CMD_ACCEPT_DOWNLOAD = 2;
constexpr uint8_t CMD_ACCEPT_UPLOAD = 3;
constexpr uint8_t CMD_BLOCK_REQUEST = 4;
constexpr uint8_t CMD_BLOCK_DATA = 5;
constexpr uint8_t CMD_FINISH = 6;
constexpr uint8_t CMD_SIZE_QUERY = 7;
constexpr uint8_t CMD_SIZE_REPLY = 8;

enum class FrameResult {
  Ok,
  Timeout,  // no sync within its time, or the body did not arrive whole in time
  BadSum,   // a whole frame whose sum does not match
  HangUp,   // the port went away; nothing more will arrive
};

// A frame buffer: sequence, command, length (2), payload (up to 65535), received sum.
constexpr size_t kFrameBufferSize = 65544;
constexpr size_t kFrameHeaderSize = 4;

constexpr uint8_t kFrameSync[5] = {'Q', 'z', 'V', 'k', 0x0D};
// Written unframed by each worker right before it waits for the first request.
constexpr uint8_t WakeUpBurst[10] = {0x0D, 0x01, 0x0D, 0x01, 0x0D, 0x00, 0x00, 0x00, 0x00, 0x00};

// Time limits of ReceiveFrame.
constexpr uint64_t kSyncByteTimeoutMs = 500;
constexpr uint64_t kFrameBodyTimeoutMs = 1000;

// The 8-bit sum that ends a frame: all body bytes (sequence to payload) added modulo 256.
uint8_t FrameSum(const uint8_t* bytes, size_t size);

// Writes sync, the length + 4 bytes of `buffer` and the sum; the result of the first write
// that did not succeed, else Ok.
SendResult SendFrame(Link& link, const uint8_t* buffer);
// Reads one frame out of the link's receive queue into `buffer` (kFrameBufferSize bytes).
// The received sum is stored right after the payload.
FrameResult ReceiveFrame(uint8_t* buffer, Link& link);

// "CMD_REQUEST" ... "CMD_SIZE_REPLY", or "CMD_UNKNOWN".
const char* CommandName(uint8_t command);

}  // namespace kestal

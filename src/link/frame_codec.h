#pragma once
// Frames on the wire: "QzVk" CR, sequence, command, 16-bit big-endian length, payload, 8-bit sum.
#include <cstddef>
#include <cstdint>

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

// ReceiveFrame results. FRAME_HANGUP is ours: the port went away, nothing more will arrive.
constexpr int FRAME_OK = 0;
constexpr int FRAME_TIMEOUT = -1;
constexpr int FRAME_BAD_SUM = -2;
constexpr int FRAME_HANGUP = -3;

// Code naming channel-list data to the receiver.
constexpr uint16_t DATA_TYPE_CHANNELS = 2;

// A frame buffer: sequence, command, length (2), payload (up to 65535), received sum.
constexpr size_t FRAME_BUFFER_SIZE = 65544;
constexpr size_t FRAME_HEADER_SIZE = 4;

constexpr uint8_t kFrameSync[5] = {'Q', 'z', 'V', 'k', 0x0D};
// Written unframed by each worker right before it waits for the first request.
constexpr uint8_t WakeUpBurst[10] = {0x0D, 0x01, 0x0D, 0x01, 0x0D, 0x00, 0x00, 0x00, 0x00, 0x00};

// Time limits of ReceiveFrame.
constexpr uint64_t SYNC_BYTE_TIMEOUT_MS = 500;
constexpr uint64_t FRAME_BODY_TIMEOUT_MS = 1000;

uint16_t GetBE16(const uint8_t* p);
void PutBE16(uint8_t* p, uint16_t v);
uint32_t GetBE32(const uint8_t* p);
void PutBE32(uint8_t* p, uint32_t v);

// The 8-bit sum that ends a frame: all body bytes (sequence to payload) added modulo 256.
uint8_t FrameSum(const uint8_t* bytes, size_t size);

// Writes sync, the n + 4 bytes of `buffer` and the sum. Returns the last SendBytes result.
int SendFrame(Link& link, const uint8_t* buffer);
// Reads one frame out of the link's receive queue into `buffer` (FRAME_BUFFER_SIZE bytes).
// The received sum is stored right after the payload.
int ReceiveFrame(uint8_t* buffer, Link& link);

// "CMD_REQUEST" ... "CMD_SIZE_REPLY", or "CMD_UNKNOWN".
const char* CommandName(uint8_t command);

}  // namespace kestal

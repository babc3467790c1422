#pragma once
// One line of `--trace` output for a frame the codec sent or received.
#include <cstddef>
#include <cstdint>
#include <string>

namespace kestal::cli {

// Payload bytes shown before the line is cut with "...".
constexpr size_t kTracePayloadBytes = 16;

// `body` is sequence, command, length, payload and sum, as the link's frame trace hands it over.
// Example: "> CMD_BLOCK_DATA seq=05 len=1024 51 7A 56 ... sum=3C". Received frames start with "<",
// and a received frame that is not `intact` (its sum did not match) is marked "BAD SUM".
std::string FormatFrameTrace(bool sent, const uint8_t* body, size_t size, bool intact);

}  // namespace kestal::cli

#include "cli/frame_trace_text.h"

#include <algorithm>
#include <cstdio>

#include "link/frame_codec.h"

namespace kestal::cli {
namespace {

std::string Hex(uint8_t b) {
  char text[4];
  std::snprintf(text, sizeof text, "%02X", b);
  return text;
}

}  // namespace

std::string FormatFrameTrace(bool sent, const uint8_t* body, size_t size, bool intact) {
  std::string line = sent ? "> " : "< ";
  if (body == nullptr || size < kFrameHeaderSize) {
    return line + "(short frame, " + std::to_string(size) + " bytes)";
  }
  const uint16_t length = GetBE16(body + 2);
  line += CommandName(body[1]);
  line += " seq=" + Hex(body[0]) + " len=" + std::to_string(length);
  // Never trust the length field further than the bytes actually handed over.
  const size_t available = std::min<size_t>(length, size - kFrameHeaderSize);
  const size_t shown = std::min(available, kTracePayloadBytes);
  for (size_t i = 0; i < shown; ++i) line += " " + Hex(body[kFrameHeaderSize + i]);
  if (available > shown) line += " ...";
  if (size > kFrameHeaderSize + length) line += " sum=" + Hex(body[kFrameHeaderSize + length]);
  if (!sent && !intact) line += " BAD SUM";
  return line;
}

}  // namespace kestal::cli

#include "link/frame_codec.h"

#include <optional>
#include <vector>

namespace kestal {

uint8_t FrameSum(const uint8_t* bytes, size_t size) {
  uint8_t sum = 0;
  for (size_t i = 0; i < size; ++i) sum = static_cast<uint8_t>(sum + bytes[i]);
  return sum;
}

namespace {

// Called with too few bytes queued: waits for up to `needed` more (it may get fewer, and then
// asks again), or says why it is pointless. Hang-up is tested before the queue: the reader
// queues its last bytes before it flags the hang-up, so nothing received is ever left behind.
// nullopt: waited, the caller looks again.
std::optional<FrameResult> WaitForMore(Link& link, uint64_t deadlineMs, size_t needed) {
  const bool empty = link.Queue().Count() == 0;
  if (link.IsHungUp() && empty) return FrameResult::HangUp;
  if (!link.IsOpen() && empty) return FrameResult::Timeout;
  if (link.GetClock().NowMs() < deadlineMs) link.WaitForBytes(deadlineMs, needed);
  return std::nullopt;
}

// Waits for the sync "QzVk" CR. Each matching byte grants another 500 ms; noise before the
// first letter is skipped within the first 500 ms; a break inside the sync ends the call, unless
// the breaking byte is itself a first letter: a stray "Q" before a frame must not cost the frame.
FrameResult ReadSync(Link& link) {
  const Clock& clock = link.GetClock();
  uint64_t deadline = clock.NowMs() + kSyncByteTimeoutMs;
  size_t matched = 0;
  for (;;) {
    uint8_t byte = 0;
    if (link.Queue().Pop(byte)) {
      if (byte != kFrameSync[matched] && matched > 0) {
        // No letter of the sync comes twice, so only its first can start it afresh.
        if (byte != kFrameSync[0]) return FrameResult::Timeout;  // the caller calls again
        matched = 0;
      }
      if (byte == kFrameSync[matched]) {
        if (++matched == sizeof kFrameSync) return FrameResult::Ok;
        deadline = clock.NowMs() + kSyncByteTimeoutMs;
      }
    } else if (const auto why = WaitForMore(link, deadline, 1)) {
      return *why;
    }
    if (clock.NowMs() >= deadline) return FrameResult::Timeout;
  }
}

// Reads sequence, command, length, payload and sum within one 1000 ms limit for the whole body,
// and sets `size` to the body's size. The bytes are taken in runs (the header, then the rest),
// never past the frame's end, so the clock is read once per run rather than once per byte.
FrameResult ReadBody(Link& link, uint8_t* buffer, size_t& size) {
  const Clock& clock = link.GetClock();
  const uint64_t deadline = clock.NowMs() + kFrameBodyTimeoutMs;
  size_t received = 0;
  size_t expected = kFrameHeaderSize + 1;  // until the length field is known
  for (;;) {
    const size_t limit = received < kFrameHeaderSize ? kFrameHeaderSize : expected;
    const size_t got = link.Queue().PopChunk(buffer + received, limit - received);
    if (got > 0) {
      received += got;
      if (received >= kFrameHeaderSize) expected = kFrameHeaderSize + GetBE16(buffer + 2) + 1;
      if (received >= expected) {
        size = received;
        return FrameResult::Ok;
      }
    } else if (const auto why = WaitForMore(link, deadline, limit - received)) {
      return *why;
    }
    if (clock.NowMs() >= deadline) return FrameResult::Timeout;
  }
}

}  // namespace

SendResult SendFrame(Link& link, const uint8_t* buffer) {
  const size_t bodySize = kFrameHeaderSize + GetBE16(buffer + 2);
  const uint8_t sum = FrameSum(buffer, bodySize);
  SendResult result = link.SendBytes(kFrameSync, sizeof kFrameSync);
  if (result == SendResult::Ok) result = link.SendBytes(buffer, bodySize);
  if (result == SendResult::Ok) result = link.SendBytes(&sum, 1);
  if (link.frameTrace) {
    // The trace wants body and sum side by side.
    std::vector<uint8_t> traced(buffer, buffer + bodySize);
    traced.push_back(sum);
    link.frameTrace(true, traced.data(), traced.size(), true);
  }
  return result;
}

FrameResult ReceiveFrame(uint8_t* buffer, Link& link) {
  FrameResult result = ReadSync(link);
  size_t size = 0;
  if (result == FrameResult::Ok) result = ReadBody(link, buffer, size);
  if (result != FrameResult::Ok) return result;
  const bool intact = FrameSum(buffer, size - 1) == buffer[size - 1];
  if (link.frameTrace) link.frameTrace(false, buffer, size, intact);
  return intact ? FrameResult::Ok : FrameResult::BadSum;
}

const char* CommandName(uint8_t command) {
  switch (command) {
    case CMD_REQUEST:
      return "CMD_REQUEST";
    case CMD_ACCEPT_DOWNLOAD:
      return "CMD_ACCEPT_DOWNLOAD";
    case CMD_ACCEPT_UPLOAD:
      return "CMD_ACCEPT_UPLOAD";
    case CMD_BLOCK_REQUEST:
      return "CMD_BLOCK_REQUEST";
    case CMD_BLOCK_DATA:
      return "CMD_BLOCK_DATA";
    case CMD_FINISH:
      return "CMD_FINISH";
    case CMD_SIZE_QUERY:
      return "CMD_SIZE_QUERY";
    case CMD_SIZE_REPLY:
      return "CMD_SIZE_REPLY";
    default:
      return "CMD_UNKNOWN";
  }
}

}  // namespace kestal

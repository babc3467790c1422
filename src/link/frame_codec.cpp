#include "link/frame_codec.h"

#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kestal {

uint16_t GetBE16(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }

void PutBE16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v >> 8);
  p[1] = static_cast<uint8_t>(v);
}

uint32_t GetBE32(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

void PutBE32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 24);
  p[1] = static_cast<uint8_t>(v >> 16);
  p[2] = static_cast<uint8_t>(v >> 8);
  p[3] = static_cast<uint8_t>(v);
}

uint8_t FrameSum(const uint8_t* bytes, size_t size) {
  // Added a byte at a time, a 16 KB block cost microseconds on both sides of every exchange,
  // on the lock-step path. SSE2 (every x86-64) adds sixteen bytes per instruction into two
  // 64-bit totals that cannot overflow.
  uint64_t total = 0;
  size_t at = 0;
#if defined(__SSE2__)
  const __m128i zero = _mm_setzero_si128();
  __m128i sums = zero;
  for (; size - at >= 16; at += 16) {
    const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + at));
    sums = _mm_add_epi64(sums, _mm_sad_epu8(chunk, zero));
  }
  total = static_cast<uint64_t>(_mm_cvtsi128_si64(sums)) +
          static_cast<uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(sums, sums)));
#endif
  for (; at < size; ++at) total += bytes[at];
  return static_cast<uint8_t>(total);
}

namespace {

// Why a byte could not be taken from the queue: the caller waits, or gives up.
enum class Starved { kWaited, kHungUp, kClosed };

// Called with the queue found empty. Hang-up is tested before re-reading the count: the reader
// queues its last bytes before it flags the hang-up, so nothing received is ever left behind.
// `needed`: how many bytes the caller can use at once (it may get fewer, and then asks again).
Starved WaitForByte(Link& link, uint64_t deadlineMs, size_t needed = 1) {
  if (link.IsHungUp() && link.Queue().Count() == 0) return Starved::kHungUp;
  if (!link.IsOpen() && link.Queue().Count() == 0) return Starved::kClosed;
  if (link.GetClock().NowMs() < deadlineMs) link.WaitForBytes(deadlineMs, needed);
  return Starved::kWaited;
}

int StarvedResult(Starved why) {
  return why == Starved::kHungUp ? FRAME_HANGUP : FRAME_TIMEOUT;
}

// Waits for the sync "QzVk" CR. Each matching byte grants another 500 ms; noise before the
// first letter is skipped within the first 500 ms; a break inside the sync ends the call.
int ReadSync(Link& link) {
  const Clock& clock = link.GetClock();
  uint64_t deadline = clock.NowMs() + SYNC_BYTE_TIMEOUT_MS;
  size_t matched = 0;
  for (;;) {
    uint8_t byte = 0;
    if (link.Queue().Pop(byte)) {
      if (byte == kFrameSync[matched]) {
        if (++matched == sizeof kFrameSync) return FRAME_OK;
        deadline = clock.NowMs() + SYNC_BYTE_TIMEOUT_MS;
      } else if (matched > 0) {
        return FRAME_TIMEOUT;  // partial sync abandoned; the caller simply calls again
      }
    } else {
      const Starved why = WaitForByte(link, deadline);
      if (why != Starved::kWaited) return StarvedResult(why);
    }
    if (clock.NowMs() >= deadline) return FRAME_TIMEOUT;
  }
}

// Reads sequence, command, length, payload and sum within one 1000 ms limit for the whole body.
// Returns FRAME_OK with the body's size in `size`. The bytes are taken from the queue in runs
// (the header first, then the rest), never past the frame's end, and the clock is read once per
// run rather than once per byte: at full speed that is what a large block costs.
int ReadBody(Link& link, uint8_t* buffer, size_t& size) {
  const Clock& clock = link.GetClock();
  const uint64_t deadline = clock.NowMs() + FRAME_BODY_TIMEOUT_MS;
  size_t received = 0;
  size_t expected = FRAME_HEADER_SIZE + 1;  // until the length field is known
  for (;;) {
    const size_t limit = received < FRAME_HEADER_SIZE ? FRAME_HEADER_SIZE : expected;
    const size_t got = link.Queue().PopChunk(buffer + received, limit - received);
    if (got > 0) {
      received += got;
      if (received >= FRAME_HEADER_SIZE) expected = FRAME_HEADER_SIZE + GetBE16(buffer + 2) + 1;
      if (received >= expected) {
        size = received;
        return FRAME_OK;
      }
    } else {
      // Sleep until the rest of the header, or of the frame, is there.
      const Starved why = WaitForByte(link, deadline, limit - received);
      if (why != Starved::kWaited) return StarvedResult(why);
    }
    if (clock.NowMs() >= deadline) return FRAME_TIMEOUT;
  }
}

}  // namespace

int SendFrame(Link& link, const uint8_t* buffer) {
  const size_t n = GetBE16(buffer + 2);
  const size_t bodySize = FRAME_HEADER_SIZE + n;
  const uint8_t sum = FrameSum(buffer, bodySize);
  link.SendBytes(kFrameSync, sizeof kFrameSync);
  link.SendBytes(buffer, static_cast<int>(bodySize));
  const int result = link.SendBytes(&sum, 1);
  if (link.frameTrace) {
    // The trace wants body and sum side by side; laid out in the link's own buffer, which
    // grows once, so a traced frame allocates nothing.
    std::vector<uint8_t>& traced = link.sentFrameForTrace;
    traced.reserve(FRAME_BUFFER_SIZE);
    traced.assign(buffer, buffer + bodySize);
    traced.push_back(sum);
    link.frameTrace(true, traced.data(), traced.size(), 0);
  }
  return result;
}

int ReceiveFrame(uint8_t* buffer, Link& link) {
  const int syncResult = ReadSync(link);
  if (syncResult != FRAME_OK) return syncResult;
  size_t size = 0;
  const int bodyResult = ReadBody(link, buffer, size);
  if (bodyResult != FRAME_OK) return bodyResult;
  const int result = FrameSum(buffer, size - 1) == buffer[size - 1] ? FRAME_OK : FRAME_BAD_SUM;
  if (link.frameTrace) link.frameTrace(false, buffer, size, result);
  return result;
}

const char* CommandName(uint8_t command) {
  switch (command) {
    case CMD_REQUEST: return "CMD_REQUEST";
    case CMD_ACCEPT_DOWNLOAD: return "CMD_ACCEPT_DOWNLOAD";
    case CMD_ACCEPT_UPLOAD: return "CMD_ACCEPT_UPLOAD";
    case CMD_BLOCK_REQUEST: return "CMD_BLOCK_REQUEST";
    case CMD_BLOCK_DATA: return "CMD_BLOCK_DATA";
    case CMD_FINISH: return "CMD_FINISH";
    case CMD_SIZE_QUERY: return "CMD_SIZE_QUERY";
    case CMD_SIZE_REPLY: return "CMD_SIZE_REPLY";
    default: return "CMD_UNKNOWN";
  }
}

}  // namespace kestal

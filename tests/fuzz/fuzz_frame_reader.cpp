// Fuzzes ReceiveFrame: arbitrary bytes reach the receive queue in chunks at fuzzer-chosen times,
// and the reader is called until every byte has arrived and been taken.
//
// Input: one flag byte (bit 0: attach a frame trace; bit 1: the line hangs up once the last
// chunk is due), then records of
//   delay (x 5 ms after the previous record), chunk length, chunk bytes.
// The stream is capped at what the queue holds, so no byte is ever dropped and the bytes each
// call took are known exactly: they are checked against what the call returned.
#include <algorithm>
#include <cstring>
#include <memory>

#include "fuzz/fuzz_input.h"
#include "support/fake_link.h"

namespace kestal::fuzz {
namespace {

using testing::ManualClock;
using testing::ScriptedLink;

constexpr uint64_t kDelayStepMs = 5;  // 100 and 200 steps hit both time limits exactly

struct Chunk {
  uint64_t timeMs;
  std::vector<uint8_t> bytes;
};

std::vector<Chunk> ReadSchedule(FuzzInput& in, uint64_t startMs) {
  std::vector<Chunk> chunks;
  uint64_t time = startMs;
  size_t total = 0;
  while (!in.Empty() && total < ReceiveQueue::kCapacity) {
    time += in.Byte() * kDelayStepMs;
    auto bytes = in.Bytes(in.Byte());
    bytes.resize(std::min(bytes.size(), ReceiveQueue::kCapacity - total));
    total += bytes.size();
    if (!bytes.empty()) chunks.push_back({time, std::move(bytes)});
  }
  return chunks;
}

// The bytes in arrival order, and how many of them have arrived by a given time.
class Stream {
 public:
  explicit Stream(const std::vector<Chunk>& chunks) {
    for (const auto& c : chunks) {
      m_bytes.insert(m_bytes.end(), c.bytes.begin(), c.bytes.end());
      m_arrived.push_back({c.timeMs, m_bytes.size()});
    }
  }
  size_t ArrivedBy(uint64_t timeMs) const {
    size_t count = 0;
    for (const auto& [time, end] : m_arrived)
      if (time <= timeMs) count = end;
    return count;
  }
  size_t Size() const { return m_bytes.size(); }
  const uint8_t* At(size_t index) const { return m_bytes.data() + index; }

 private:
  std::vector<uint8_t> m_bytes;
  std::vector<std::pair<uint64_t, size_t>> m_arrived;
};

uint8_t Sum(const uint8_t* bytes, size_t size) {
  uint8_t sum = 0;
  for (size_t i = 0; i < size; ++i) sum = static_cast<uint8_t>(sum + bytes[i]);
  return sum;
}

// Where a whole frame (sync and body) ends in `taken`, if the bytes start with noise free of
// the first sync letter, then the sync, then a complete body; 0 otherwise.
size_t CompleteFrameEnd(const uint8_t* taken, size_t size) {
  size_t pos = 0;
  while (pos < size && taken[pos] != kFrameSync[0]) ++pos;
  if (size - pos < sizeof kFrameSync + FRAME_HEADER_SIZE) return 0;
  if (std::memcmp(taken + pos, kFrameSync, sizeof kFrameSync) != 0) return 0;
  const uint8_t* body = taken + pos + sizeof kFrameSync;
  const size_t end = pos + sizeof kFrameSync + FRAME_HEADER_SIZE + GetBE16(body + 2) + 1;
  return end <= size ? end : 0;
}

// Checks one call's result against the bytes it took out of the queue.
void CheckCall(int result, const uint8_t* buffer, const uint8_t* taken, size_t size) {
  Check(result == FRAME_OK || result == FRAME_TIMEOUT || result == FRAME_BAD_SUM ||
            result == FRAME_HANGUP,
        "ReceiveFrame result outside OK, TIMEOUT, BAD_SUM, HANGUP");
  const size_t frameEnd = CompleteFrameEnd(taken, size);
  if (result == FRAME_TIMEOUT || result == FRAME_HANGUP) {
    Check(frameEnd == 0, "a whole frame was taken from the queue but no frame returned");
    return;
  }
  Check(frameEnd == size, "a frame result must take exactly noise, sync and one body");
  const size_t bodySize = FRAME_HEADER_SIZE + GetBE16(buffer + 2) + 1;
  Check(std::memcmp(buffer, taken + size - bodySize, bodySize) == 0,
        "the buffer does not hold the body that was taken");
  const bool sumMatches = Sum(buffer, bodySize - 1) == buffer[bodySize - 1];
  Check(sumMatches == (result == FRAME_OK), "FRAME_OK and FRAME_BAD_SUM disagree with the sum");
}

}  // namespace
}  // namespace kestal::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kestal;
  using namespace kestal::fuzz;
  FuzzInput in(data, size);
  const uint8_t flags = in.Byte();
  ManualClock clock;
  ScriptedLink link(clock);
  const auto chunks = ReadSchedule(in, clock.NowMs());
  const Stream stream(chunks);

  size_t traced = 0;
  if (flags & 1) {
    link.frameTrace = [&traced](bool sent, const uint8_t* body, size_t n, int) {
      Check(!sent, "the reader traced a frame as sent");
      Check(n >= FRAME_HEADER_SIZE + 1 && n == FRAME_HEADER_SIZE + GetBE16(body + 2) + 1u,
            "traced body size does not match its length field");
      ++traced;
    };
  }
  for (const auto& c : chunks) link.DeliverAt(c.timeMs, c.bytes);
  const bool hangUp = flags & 2;
  const uint64_t lastDueMs = chunks.empty() ? clock.NowMs() : chunks.back().timeMs;
  if (hangUp) {
    link.onAdvance = [&link, lastDueMs](uint64_t now) {
      if (now >= lastDueMs) link.HangUp();
    };
    if (clock.NowMs() >= lastDueMs) link.HangUp();
  }

  // Exactly the frame buffer's size on the heap, so that any overrun is caught.
  const auto buffer = std::make_unique<uint8_t[]>(FRAME_BUFFER_SIZE);
  const uint64_t quietMs = lastDueMs - clock.NowMs();
  size_t consumed = 0;
  size_t frames = 0;
  for (size_t calls = 0; consumed < stream.Size(); ++calls) {
    // Each call takes a byte, or waits for the next chunk or a time limit of at least 500 ms.
    Check(calls <= stream.Size() + chunks.size() + quietMs / SYNC_BYTE_TIMEOUT_MS + 2,
          "ReceiveFrame makes no progress");
    const int result = ReceiveFrame(buffer.get(), link);
    const size_t taken = stream.ArrivedBy(clock.NowMs()) - link.Queue().Count();
    Check(taken >= consumed, "the queue gave back bytes");
    CheckCall(result, buffer.get(), stream.At(consumed), taken - consumed);
    if (result == FRAME_HANGUP) {
      // The reader queues its last bytes before it flags the hang-up: all must be read first.
      Check(hangUp && link.IsHungUp(), "FRAME_HANGUP on a line that did not hang up");
      Check(taken == stream.Size(), "FRAME_HANGUP with received bytes left unread");
    }
    if (result == FRAME_OK || result == FRAME_BAD_SUM) ++frames;
    consumed = taken;
  }
  Check(!(flags & 1) || traced == frames, "not every received frame was traced");
  if (hangUp) {
    const uint64_t before = clock.NowMs();
    Check(ReceiveFrame(buffer.get(), link) == FRAME_HANGUP && clock.NowMs() == before,
          "a hung-up line with nothing left does not give FRAME_HANGUP at once");
  }
  return 0;
}

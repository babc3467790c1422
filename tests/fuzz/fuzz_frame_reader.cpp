// Fuzzes ReceiveFrame: arbitrary bytes reach the receive queue in chunks at fuzzer-chosen times,
// and the reader is called until every byte has been taken.
//
// Input: one flag byte (bit 0: attach a frame trace; bit 1: the line hangs up once the last
// chunk is due), then records of: delay (x 5 ms after the previous record), chunk length,
// chunk bytes. The stream is capped at what the queue holds, so the bytes each call took are
// known exactly and are checked against what the call returned.
#include <algorithm>
#include <cstring>
#include <iterator>
#include <memory>

#include "fuzz/fuzz_input.h"
#include "support/fake_link.h"

namespace kestal::fuzz {
namespace {

constexpr uint64_t kDelayStepMs = 5;  // 100 and 200 steps hit both time limits exactly

// Where a whole frame ends in `taken` when it is noise, the first whole sync and a complete
// body; 0 otherwise. Noise may hold broken syncs ("QzQzVk"): the sync is the first full one.
size_t CompleteFrameEnd(const uint8_t* taken, size_t size) {
  const uint8_t* sync =
      std::search(taken, taken + size, std::begin(kFrameSync), std::end(kFrameSync));
  const size_t pos = static_cast<size_t>(sync - taken);
  if (size - pos < sizeof kFrameSync + kFrameHeaderSize) return 0;
  const uint8_t* body = taken + pos + sizeof kFrameSync;
  const size_t end = pos + sizeof kFrameSync + kFrameHeaderSize + GetBE16(body + 2) + 1;
  return end <= size ? end : 0;
}

void CheckCall(FrameResult result, const uint8_t* buffer, const uint8_t* taken, size_t size) {
  const size_t frameEnd = CompleteFrameEnd(taken, size);
  if (result == FrameResult::Timeout || result == FrameResult::HangUp) {
    Check(frameEnd == 0, "a whole frame was taken from the queue but none returned");
    return;
  }
  Check(frameEnd == size, "a frame must take exactly noise, sync and one body");
  const size_t bodySize = kFrameHeaderSize + GetBE16(buffer + 2) + 1;
  Check(std::memcmp(buffer, taken + size - bodySize, bodySize) == 0,
        "the buffer does not hold the body that was taken");
  const bool sumMatches = FrameSum(buffer, bodySize - 1) == buffer[bodySize - 1];
  Check(sumMatches == (result == FrameResult::Ok), "Ok and BadSum disagree with the sum");
}

}  // namespace
}  // namespace kestal::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kestal;
  using namespace kestal::fuzz;
  FuzzInput in(data, size);
  const uint8_t flags = in.Byte();
  testing::FakeLink link;
  const uint64_t startMs = link.clock.NowMs();
  uint64_t timeMs = startMs;
  uint64_t lastDueMs = startMs;  // of the last chunk that carries bytes
  testing::Bytes stream;
  std::vector<std::pair<uint64_t, size_t>> arrivals;  // time, stream size by then
  while (!in.Empty() && stream.size() < ReceiveQueue::kCapacity) {
    timeMs += in.Byte() * kDelayStepMs;
    auto bytes = in.Bytes(in.Byte());
    bytes.resize(std::min(bytes.size(), ReceiveQueue::kCapacity - stream.size()));
    if (bytes.empty()) continue;
    lastDueMs = timeMs;
    link.DeliverAt(lastDueMs, bytes);
    stream.insert(stream.end(), bytes.begin(), bytes.end());
    arrivals.emplace_back(lastDueMs, stream.size());
  }
  const bool hangUp = (flags & 2) != 0;
  if (hangUp) link.HangUpAt(lastDueMs);
  const auto arrivedBy = [&](uint64_t nowMs) {
    size_t count = 0;
    for (const auto& [time, end] : arrivals) count = time <= nowMs ? end : count;
    return count;
  };

  size_t traced = 0;
  if (flags & 1) {
    link.frameTrace = [&traced](bool sent, const uint8_t* body, size_t n, bool) {
      Check(!sent && n == kFrameHeaderSize + GetBE16(body + 2) + 1u, "traced size is wrong");
      ++traced;
    };
  }
  // Exactly the frame buffer's size on the heap, so that any overrun is caught.
  const auto buffer = std::make_unique<uint8_t[]>(kFrameBufferSize);
  size_t consumed = 0;
  size_t frames = 0;
  for (size_t calls = 0; consumed < stream.size(); ++calls) {
    // Each call takes a byte, or waits for the next chunk or a time limit of at least 500 ms.
    Check(calls <= stream.size() + arrivals.size() + (lastDueMs - startMs) / 500 + 2,
          "ReceiveFrame makes no progress");
    const FrameResult result = ReceiveFrame(buffer.get(), link);
    const size_t taken = arrivedBy(link.clock.NowMs()) - link.Queue().Count();
    CheckCall(result, buffer.get(), stream.data() + consumed, taken - consumed);
    if (result == FrameResult::HangUp) {
      Check(hangUp && taken == stream.size(), "HangUp on a live line or with bytes left unread");
    }
    if (result == FrameResult::Ok || result == FrameResult::BadSum) ++frames;
    consumed = taken;
  }
  Check(!(flags & 1) || traced == frames, "not every received frame was traced");
  if (hangUp) {
    const uint64_t before = link.clock.NowMs();
    Check(ReceiveFrame(buffer.get(), link) == FrameResult::HangUp && link.clock.NowMs() == before,
          "a hung-up line with nothing left does not give HangUp at once");
  }
  return 0;
}

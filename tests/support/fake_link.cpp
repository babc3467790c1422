#include "support/fake_link.h"

#include <algorithm>
#include <cstdlib>

namespace kestal::testing {

Bytes WireFrame(uint8_t sequence, uint8_t command, const Bytes& payload, uint8_t sumError) {
  const auto length = static_cast<uint16_t>(payload.size());
  Bytes wire(kFrameSync, kFrameSync + sizeof kFrameSync);
  for (const uint8_t byte :
       {sequence, command, static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length)}) {
    wire.push_back(byte);
  }
  wire.insert(wire.end(), payload.begin(), payload.end());
  const uint8_t sum = FrameSum(wire.data() + sizeof kFrameSync, wire.size() - sizeof kFrameSync);
  wire.push_back(static_cast<uint8_t>(sum + sumError));
  return wire;
}

std::vector<Frame> ParseFrames(const Bytes& stream) {
  std::vector<Frame> frames;
  const Bytes sync(kFrameSync, kFrameSync + sizeof kFrameSync);
  auto at = stream.begin();
  while ((at = std::search(at, stream.end(), sync.begin(), sync.end())) != stream.end()) {
    const auto body = at + static_cast<long>(sync.size());
    if (stream.end() - body < static_cast<long>(kFrameHeaderSize)) break;
    const size_t length = GetBE16(&body[2]);
    if (static_cast<size_t>(stream.end() - body) < kFrameHeaderSize + length + 1) break;
    const auto payload = body + kFrameHeaderSize;
    const auto sum = payload + static_cast<long>(length);
    frames.push_back({body[0], body[1], Bytes(payload, sum),
                      FrameSum(&body[0], kFrameHeaderSize + length) == *sum});
    at = sum + 1;
  }
  return frames;
}

OpenResult FakeLink::OpenLink(const std::string&, uint32_t) {
  open_ = openResult == OpenResult::Ok;
  return openResult;
}

SendResult FakeLink::SendBytes(const uint8_t* data, size_t count) {
  if (!open_) return SendResult::Closed;
  const Bytes bytes(data, data + count);
  sent.insert(sent.end(), bytes.begin(), bytes.end());
  if (onSend) onSend(bytes);
  return SendResult::Ok;
}

ReceiveQueue& FakeLink::Queue() {
  DeliverDue();
  return queue_;
}

bool FakeLink::IsHungUp() const { return hangUpAtMs_ && clock.NowMs() >= *hangUpAtMs_; }

void FakeLink::WaitForBytes(uint64_t deadlineMs, size_t count) {
  DeliverDue();
  if (queue_.Count() >= count || !open_ || IsHungUp()) return;
  // Sleep until the next thing happens on the line, or the deadline.
  uint64_t wakeMs = deadlineMs;
  if (!scheduled_.empty()) wakeMs = std::min(wakeMs, scheduled_.begin()->first);
  if (hangUpAtMs_) wakeMs = std::min(wakeMs, *hangUpAtMs_);
  if (wakeMs > clock.NowMs()) clock.Advance(wakeMs - clock.NowMs());
  DeliverDue();
}

void FakeLink::DeliverDue() {
  while (!scheduled_.empty() && scheduled_.begin()->first <= clock.NowMs()) {
    const Bytes& bytes = scheduled_.begin()->second;
    // A real queue that overflows drops the chunk: a script that does so is a broken test.
    if (!queue_.PushChunk(bytes.data(), bytes.size())) std::abort();
    scheduled_.erase(scheduled_.begin());
  }
}

}  // namespace kestal::testing

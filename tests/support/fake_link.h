#pragma once
// A Link whose far end is a script, on a manual clock: time moves only while the code under
// test waits, jumping to the next scripted arrival or to its deadline, so every time limit is
// tested exactly and instantly. Single-threaded: the code under test runs on the test's thread.
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <vector>

#include "link/frame_codec.h"

namespace kestal::testing {

using Bytes = std::vector<uint8_t>;

class ManualClock : public Clock {
 public:
  uint64_t NowMs() const override { return nowMs_; }
  void Advance(uint64_t ms) { nowMs_ += ms; }

 private:
  uint64_t nowMs_ = 1000;
};

// Wire bytes of a frame: sync, sequence, command, length, payload, sum (plus `sumError`).
Bytes WireFrame(uint8_t sequence, uint8_t command, const Bytes& payload, uint8_t sumError = 0);

struct Frame {
  uint8_t sequence = 0;
  uint8_t command = 0;
  Bytes payload;
  bool intact = false;
};
// The whole frames in a byte stream; bytes outside frames (the wake-up burst) are skipped.
std::vector<Frame> ParseFrames(const Bytes& stream);

class FakeLink : public Link {
 public:
  ManualClock clock;
  Bytes sent;                                // everything written, in order
  std::function<void(const Bytes&)> onSend;  // each write; may DeliverAt replies
  OpenResult openResult = OpenResult::Ok;    // what the next OpenLink gives

  // `bytes` reach the receive queue once the clock reaches `timeMs`.
  void DeliverAt(uint64_t timeMs, const Bytes& bytes) { scheduled_.emplace(timeMs, bytes); }
  void Deliver(const Bytes& bytes) { DeliverAt(clock.NowMs(), bytes); }
  // The far end goes away at `timeMs`, after the bytes due by then.
  void HangUpAt(uint64_t timeMs) { hangUpAtMs_ = timeMs; }

  OpenResult OpenLink(const std::string& devicePath, uint32_t baud) override;
  void CloseLink() override { open_ = false; }
  SendResult SendBytes(const uint8_t* data, size_t count) override;
  ReceiveQueue& Queue() override;
  void WaitForBytes(uint64_t deadlineMs, size_t count) override;
  const Clock& GetClock() const override { return clock; }
  bool IsOpen() const override { return open_; }
  bool IsHungUp() const override;

 private:
  void DeliverDue();

  ReceiveQueue queue_;
  std::multimap<uint64_t, Bytes> scheduled_;
  std::optional<uint64_t> hangUpAtMs_;
  bool open_ = true;
};

}  // namespace kestal::testing

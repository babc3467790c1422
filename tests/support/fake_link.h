#pragma once
// Test doubles for the link: a manual clock, and a link whose "receiver" is a script. Time only
// moves when the code under test waits, so time-out rules are tested exactly and instantly.
// Single-threaded: the code under test runs on the test's own thread.
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <vector>

#include "link/clock.h"
#include "link/frame_codec.h"
#include "link/link.h"
#include "ports/port_info.h"

namespace kestal::testing {

class ManualClock : public Clock {
 public:
  uint64_t NowMs() const override { return m_now.load(); }
  void Set(uint64_t ms) { m_now.store(ms); }
  void Advance(uint64_t ms) { m_now.fetch_add(ms); }

 private:
  std::atomic<uint64_t> m_now{1000};
};

// Wire bytes of a frame: sync, sequence, command, length, payload, sum.
std::vector<uint8_t> WireFrame(uint8_t sequence, uint8_t command,
                               const std::vector<uint8_t>& payload);
// The same with a deliberately wrong sum.
std::vector<uint8_t> WireFrameBadSum(uint8_t sequence, uint8_t command,
                                     const std::vector<uint8_t>& payload);

// A frame the code under test sent, as the receiver would parse it.
struct SentFrame {
  uint8_t sequence = 0;
  uint8_t command = 0;
  std::vector<uint8_t> payload;
  bool sumOk = false;
};

// Splits a byte stream into frames; bytes outside frames (the wake-up burst) are kept apart.
class FrameSplitter {
 public:
  // Feeds bytes; returns the frames completed by them.
  std::vector<SentFrame> Feed(const uint8_t* data, size_t size);
  const std::vector<uint8_t>& Loose() const { return m_loose; }

 private:
  std::vector<uint8_t> m_pending;
  std::vector<uint8_t> m_loose;
};

class ScriptedLink : public Link {
 public:
  explicit ScriptedLink(ManualClock& clock) : m_clock(clock) {}

  // Bytes that arrive at the queue at `timeMs` on the clock (or now).
  void DeliverAt(uint64_t timeMs, const std::vector<uint8_t>& bytes);
  void Deliver(const std::vector<uint8_t>& bytes) { DeliverAt(m_clock.NowMs(), bytes); }
  void HangUp() { m_hungUp = true; }

  // Called with every frame the code under test sends (after the burst); may Deliver replies.
  std::function<void(const SentFrame&)> onFrame;
  // Called each time waiting moves the clock; may stop the code under test.
  std::function<void(uint64_t nowMs)> onAdvance;

  // Everything sent, raw, and the frames found in it.
  std::vector<uint8_t> sentBytes;
  std::vector<SentFrame> sentFrames;
  int openCount = 0;
  int closeCount = 0;
  bool failOpen = false;

  int OpenLink(const PortInfo&, uint32_t) override;
  void CloseLink() override;
  int SendBytes(const uint8_t* data, int count) override;
  ReceiveQueue& Queue() override { return m_queue; }
  void WaitForData(uint64_t deadlineMs) override;
  const Clock& GetClock() const override { return m_clock; }
  bool IsOpen() const override { return m_open; }
  bool IsHungUp() const override { return m_hungUp; }

 private:
  void DeliverDue();

  ManualClock& m_clock;
  ReceiveQueue m_queue;
  std::multimap<uint64_t, std::vector<uint8_t>> m_scheduled;
  FrameSplitter m_splitter;
  bool m_open = true;
  bool m_hungUp = false;
};

}  // namespace kestal::testing

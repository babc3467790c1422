#include "support/fake_link.h"

#include <algorithm>

namespace kestal::testing {

namespace {
std::vector<uint8_t> BuildWire(uint8_t sequence, uint8_t command,
                               const std::vector<uint8_t>& payload, uint8_t sumSkew) {
  std::vector<uint8_t> wire(kFrameSync, kFrameSync + 5);
  const size_t n = payload.size();
  std::vector<uint8_t> body = {sequence, command, static_cast<uint8_t>(n >> 8),
                               static_cast<uint8_t>(n & 0xFF)};
  body.insert(body.end(), payload.begin(), payload.end());
  uint8_t sum = 0;
  for (uint8_t b : body) sum = static_cast<uint8_t>(sum + b);
  wire.insert(wire.end(), body.begin(), body.end());
  wire.push_back(static_cast<uint8_t>(sum + sumSkew));
  return wire;
}
}  // namespace

std::vector<uint8_t> WireFrame(uint8_t sequence, uint8_t command,
                               const std::vector<uint8_t>& payload) {
  return BuildWire(sequence, command, payload, 0);
}

std::vector<uint8_t> WireFrameBadSum(uint8_t sequence, uint8_t command,
                                     const std::vector<uint8_t>& payload) {
  return BuildWire(sequence, command, payload, 1);
}

std::vector<SentFrame> FrameSplitter::Feed(const uint8_t* data, size_t size) {
  m_pending.insert(m_pending.end(), data, data + size);
  std::vector<SentFrame> frames;
  for (;;) {
    auto it = std::search(m_pending.begin(), m_pending.end(), kFrameSync, kFrameSync + 5);
    m_loose.insert(m_loose.end(), m_pending.begin(), it);
    m_pending.erase(m_pending.begin(), it);
    if (m_pending.size() < 9) break;
    const size_t n = (size_t{m_pending[7]} << 8) | m_pending[8];
    if (m_pending.size() < n + 10) break;
    SentFrame f;
    f.sequence = m_pending[5];
    f.command = m_pending[6];
    f.payload.assign(m_pending.begin() + 9, m_pending.begin() + 9 + static_cast<long>(n));
    uint8_t sum = 0;
    for (size_t i = 5; i < 9 + n; ++i) sum = static_cast<uint8_t>(sum + m_pending[i]);
    f.sumOk = sum == m_pending[9 + n];
    frames.push_back(std::move(f));
    m_pending.erase(m_pending.begin(), m_pending.begin() + static_cast<long>(n + 10));
  }
  return frames;
}

void ScriptedLink::DeliverAt(uint64_t timeMs, const std::vector<uint8_t>& bytes) {
  m_scheduled.emplace(timeMs, bytes);
  DeliverDue();
}

void ScriptedLink::DeliverDue() {
  const uint64_t now = m_clock.NowMs();
  while (!m_scheduled.empty() && m_scheduled.begin()->first <= now) {
    for (uint8_t b : m_scheduled.begin()->second) m_queue.Push(b);
    m_scheduled.erase(m_scheduled.begin());
  }
}

int ScriptedLink::OpenLink(const PortInfo&, uint32_t) {
  ++openCount;
  if (failOpen) return 0;
  m_open = true;
  m_hungUp = false;
  return 1;
}

void ScriptedLink::CloseLink() {
  ++closeCount;
  m_open = false;
}

int ScriptedLink::SendBytes(const uint8_t* data, int count) {
  if (!m_open) return 0;
  sentBytes.insert(sentBytes.end(), data, data + count);
  for (auto& f : m_splitter.Feed(data, static_cast<size_t>(count))) {
    sentFrames.push_back(f);
    if (onFrame) onFrame(f);
  }
  return count;
}

void ScriptedLink::WaitForData(uint64_t deadlineMs) {
  DeliverDue();
  if (m_queue.Count() > 0 || m_hungUp || !m_open) return;
  uint64_t next = deadlineMs;
  if (!m_scheduled.empty()) next = std::min(next, m_scheduled.begin()->first);
  if (next > m_clock.NowMs()) m_clock.Set(next);
  if (onAdvance) onAdvance(m_clock.NowMs());
  DeliverDue();
}

}  // namespace kestal::testing

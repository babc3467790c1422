#include "sim/sim_wire.h"

#include <algorithm>
#include <cstdio>

namespace kestal::sim {

namespace {

constexpr size_t kTraceBytes = 48;  // longer frames are shortened in the trace

}  // namespace

SimWire::SimWire(Link& link, const SimOptions& options, std::ostream& log)
    : m_link(link), m_log(log), m_trace(options.trace), m_faults(options.faults),
      m_frame(FRAME_BUFFER_SIZE, 0) {}

void SimWire::Report(const std::string& line) { m_log << "sim: " << line << std::endl; }

void SimWire::Trace(char direction, const uint8_t* body, size_t size, const char* note) {
  if (!m_trace) return;
  std::string line(1, direction);
  line += ' ';
  line += CommandName(body[1]);
  const size_t shown = std::min(size, kTraceBytes);
  for (size_t i = 0; i < shown; ++i) {
    char hex[4];
    std::snprintf(hex, sizeof hex, " %02x", body[i]);
    line += hex;
  }
  if (shown < size) line += " ... (" + std::to_string(size) + " bytes)";
  if (note[0] != '\0') line += std::string(" [") + note + "]";
  Report(line);
}

FrameFaults SimWire::Send(uint8_t sequence, uint8_t command, const std::vector<uint8_t>& payload) {
  const size_t n = payload.size();
  std::vector<uint8_t> body = {sequence, command, static_cast<uint8_t>(n >> 8),
                               static_cast<uint8_t>(n)};
  body.insert(body.end(), payload.begin(), payload.end());
  body.push_back(FrameSum(body.data(), body.size()));

  FrameFaults faults = m_faults.Next();
  if (faults.drop) {
    Trace('>', body.data(), body.size(), "dropped");
    return faults;
  }
  if (!faults.noise.empty()) {
    m_link.SendBytes(faults.noise.data(), static_cast<int>(faults.noise.size()));
  }
  if (faults.badSum) body.back() = static_cast<uint8_t>(body.back() + 1);
  // One write for the whole frame, as a receiver hands a frame to its UART.
  std::vector<uint8_t> wire(kFrameSync, kFrameSync + sizeof kFrameSync);
  wire.insert(wire.end(), body.begin(), body.end());
  if (faults.garble) {
    const auto at = std::min(wire.size() - 1, static_cast<size_t>(faults.garbleAt *
                                                                  static_cast<double>(wire.size())));
    wire[at] ^= faults.garbleXor;
  }
  m_link.SendBytes(wire.data(), static_cast<int>(wire.size()));
  Trace('>', body.data(), body.size(), faults.badSum ? "bad sum" : faults.garble ? "garbled" : "");
  return faults;
}

WaitResult SimWire::Receive(uint64_t deadlineMs) {
  for (;;) {
    if (!m_link.IsOpen()) return WaitResult::kHungUp;
    if (Now() >= deadlineMs) return WaitResult::kTimeout;
    switch (ReceiveFrame(m_frame.data(), m_link)) {
      case FRAME_OK:
        switch (m_faults.NextInbound()) {
          case InboundFault::kDrop:
            Trace('<', m_frame.data(), FRAME_HEADER_SIZE + Length() + 1, "lost on the way in");
            continue;
          case InboundFault::kCorrupt:
            Trace('<', m_frame.data(), FRAME_HEADER_SIZE + Length() + 1, "damaged on the way in");
            return WaitResult::kBadSum;
          case InboundFault::kNone:
            break;
        }
        Trace('<', m_frame.data(), FRAME_HEADER_SIZE + Length() + 1, "");
        return WaitResult::kFrame;
      case FRAME_BAD_SUM:
        Trace('<', m_frame.data(), FRAME_HEADER_SIZE + Length() + 1, "bad sum");
        return WaitResult::kBadSum;
      case FRAME_HANGUP:
        return WaitResult::kHungUp;
      default:
        break;  // quiet line or a broken sync: look again
    }
  }
}

WaitResult SimWire::WaitForBurst(uint64_t deadlineMs) {
  constexpr size_t kBurst = sizeof WakeUpBurst;
  uint8_t window[kBurst] = {};
  size_t seen = 0;
  for (;;) {
    uint8_t byte = 0;
    if (m_link.Queue().Pop(byte)) {
      std::copy(window + 1, window + kBurst, window);
      window[kBurst - 1] = byte;
      if (++seen >= kBurst && std::equal(window, window + kBurst, WakeUpBurst)) {
        if (m_trace) Report("< wake-up burst");
        return WaitResult::kFrame;
      }
      continue;
    }
    if (m_link.IsHungUp() || !m_link.IsOpen()) return WaitResult::kHungUp;
    if (Now() >= deadlineMs) return WaitResult::kTimeout;
    m_link.WaitForData(deadlineMs);
  }
}

}  // namespace kestal::sim

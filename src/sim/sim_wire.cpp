#include "sim/sim_wire.h"

#include <algorithm>
#include <cstdio>

namespace kestal::sim {

namespace {

constexpr size_t kTraceBytes = 48;  // longer frames are shortened in the trace

}  // namespace

SimWire::SimWire(Link& link, const SimOptions& options, std::ostream& log)
    : link_(link),
      log_(log),
      trace_(options.trace),
      faults_(options.faults),
      frame_(kFrameBufferSize, 0) {}

void SimWire::Report(const std::string& line) { log_ << "sim: " << line << std::endl; }

void SimWire::Trace(char direction, const uint8_t* body, size_t size, const char* note) {
  if (!trace_) return;
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

  FrameFaults faults = faults_.Next();
  if (!faults.Intact()) ++spoiled_;
  if (faults.drop) {
    Trace('>', body.data(), body.size(), "dropped");
    return faults;
  }
  if (!faults.noise.empty()) {
    link_.SendBytes(faults.noise.data(), faults.noise.size());
  }
  if (faults.badSum) body.back() = static_cast<uint8_t>(body.back() + 1);
  // One write for the whole frame, as a receiver hands a frame to its UART.
  std::vector<uint8_t> wire(kFrameSync, kFrameSync + sizeof kFrameSync);
  wire.insert(wire.end(), body.begin(), body.end());
  if (faults.garble) {
    const auto at = std::min(
        wire.size() - 1, static_cast<size_t>(faults.garbleAt * static_cast<double>(wire.size())));
    wire[at] ^= faults.garbleXor;
  }
  link_.SendBytes(wire.data(), wire.size());
  Trace('>', body.data(), body.size(), faults.badSum ? "bad sum" : faults.garble ? "garbled" : "");
  return faults;
}

WaitResult SimWire::Receive(uint64_t deadlineMs) {
  for (;;) {
    if (!link_.IsOpen()) return WaitResult::HungUp;
    if (Now() >= deadlineMs) return WaitResult::Timeout;
    switch (ReceiveFrame(frame_.data(), link_)) {
      case FrameResult::Ok:
        // Nothing answers CMD_FINISH, so no tool could tell it was lost: it is spared.
        switch (Command() == CMD_FINISH ? InboundFault::None : faults_.NextInbound()) {
          case InboundFault::Drop:
            ++spoiled_;
            Trace('<', frame_.data(), kFrameHeaderSize + Length() + 1, "lost on the way in");
            continue;
          case InboundFault::Corrupt:
            ++spoiled_;
            Trace('<', frame_.data(), kFrameHeaderSize + Length() + 1, "damaged on the way in");
            return WaitResult::BadSum;
          case InboundFault::None:
            break;
        }
        Trace('<', frame_.data(), kFrameHeaderSize + Length() + 1, "");
        return WaitResult::Frame;
      case FrameResult::BadSum:
        Trace('<', frame_.data(), kFrameHeaderSize + Length() + 1, "bad sum");
        return WaitResult::BadSum;
      case FrameResult::HangUp:
        return WaitResult::HungUp;
      case FrameResult::Timeout:
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
    if (link_.Queue().Pop(byte)) {
      std::copy(window + 1, window + kBurst, window);
      window[kBurst - 1] = byte;
      if (++seen >= kBurst && std::equal(window, window + kBurst, WakeUpBurst)) {
        if (trace_) Report("< wake-up burst");
        return WaitResult::Frame;
      }
      continue;
    }
    if (link_.IsHungUp() || !link_.IsOpen()) return WaitResult::HungUp;
    if (Now() >= deadlineMs) return WaitResult::Timeout;
    link_.WaitForData(deadlineMs);
  }
}

}  // namespace kestal::sim

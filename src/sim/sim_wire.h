#pragma once
// The emulator's side of the wire: frames out through the fault injector, frames in under a
// deadline, the wake-up burst, and the optional hex trace of every frame.
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "link/frame_codec.h"
#include "link/link.h"
#include "sim/fault_injector.h"
#include "sim/sim_options.h"

namespace kestal::sim {

enum class WaitResult { Frame, BadSum, Timeout, HungUp };

class SimWire {
 public:
  SimWire(Link& link, const SimOptions& options, std::ostream& log);

  Link& GetLink() { return link_; }
  uint64_t Now() const { return link_.GetClock().NowMs(); }
  // One line on the log, prefixed "sim: ".
  void Report(const std::string& line);

  // Sends a frame, unless the injector drops it. Returns the faults that were applied.
  FrameFaults Send(uint8_t sequence, uint8_t command, const std::vector<uint8_t>& payload);

  // Waits for the next complete frame until `deadlineMs`; the frame stays readable below.
  WaitResult Receive(uint64_t deadlineMs);
  uint8_t Sequence() const { return frame_[0]; }
  uint8_t Command() const { return frame_[1]; }
  uint16_t Length() const { return GetBE16(frame_.data() + 2); }
  const uint8_t* Payload() const { return frame_.data() + kFrameHeaderSize; }

  // Reads raw bytes until the 10-byte wake-up burst has gone by. Frame = burst seen.
  WaitResult WaitForBurst(uint64_t deadlineMs);

  // Frames lost or damaged by the injected faults so far, either way.
  uint32_t Spoiled() const { return spoiled_; }

 private:
  void Trace(char direction, const uint8_t* body, size_t size, const char* note);

  Link& link_;
  std::ostream& log_;
  bool trace_;
  FaultInjector faults_;
  std::vector<uint8_t> frame_;
  uint32_t spoiled_ = 0;
};

}  // namespace kestal::sim

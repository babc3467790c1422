#pragma once
// The steps both roles share: waking up on the burst, the request and its acceptance, and the
// scripted ends (silence, hang-up) counted in blocks.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "sim/session.h"
#include "sim/sim_wire.h"

namespace kestal::sim {

// How a session ends: the exit status and the line to report.
struct SimEnd {
  int exitCode = 0;
  std::string message;
};

// A step that may end the session early; nullopt: go on.
using Step = std::optional<SimEnd>;

inline SimEnd Fault(std::string message) { return {1, std::move(message)}; }

class ReceiverExchange {
 public:
  explicit ReceiverExchange(const SimSession& session);

  SimWire& Wire() { return wire_; }

  // Burst, the optional idle and stray block request, then CMD_REQUEST until the tool answers
  // with `acceptCommand`.
  Step Open(uint8_t acceptCommand);
  // Next sequence number for a frame the receiver starts.
  uint8_t NextSequence() { return ++sequence_; }
  // Called before each block is asked for or answered: once the scripted number of blocks has
  // moved, hangs up or goes silent instead.
  Step BeforeBlock();
  void BlockDone() { ++blocks_; }
  uint32_t Blocks() const { return blocks_; }
  // Wait of one answer of `payloadBytes` bytes: the reply time plus the line time at the baud.
  uint64_t ReplyWindowMs(size_t payloadBytes) const;
  // Waits until the tool closes the port (true) or `timeoutMs` passes (false). Each frame that
  // arrives meanwhile goes to `onFrame`, which may end the session.
  using FrameCheck = std::function<Step()>;
  bool WaitForHangUp(uint64_t timeoutMs, const FrameCheck& onFrame, Step& ended);

 private:
  Step IdleBeforeRequest();
  Step SendStrayBlockRequest();
  SimEnd FinishUnasked();
  SimEnd SendGarbage();
  Step RequestUntilAccepted(uint8_t acceptCommand);
  SimEnd HangUpBeforeTheAnswer(size_t heard);
  SimEnd GoSilent();

  SimWire wire_;
  const SimOptions& options_;
  std::function<void()> onPeerConnected_;
  std::function<bool()> onPeerLeft_;
  uint8_t sequence_ = 0;
  uint32_t blocks_ = 0;
};

// Runs a role's body; reports how it ended and returns the exit status.
int RunReported(SimWire& wire, const std::function<SimEnd()>& body);

// Big-endian payload helpers.
std::vector<uint8_t> BE32Payload(uint32_t value);
std::vector<uint8_t> BlockRequestPayload(uint16_t length, uint32_t offset);
std::string Hex(uint32_t value);

}  // namespace kestal::sim

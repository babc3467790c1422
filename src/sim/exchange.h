#pragma once
// The steps both roles share: waking up on the burst, the request and its acceptance, and the
// scripted ends (silence, hang-up) counted in blocks.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "sim/session.h"
#include "sim/sim_wire.h"

namespace kestal::sim {

// Ends a session early: thrown with the exit status and the line to report.
struct SessionEnd {
  int exitCode;
  std::string message;
};

[[noreturn]] void Fault(const std::string& message);

class ReceiverExchange {
 public:
  explicit ReceiverExchange(const SimSession& session);

  SimWire& Wire() { return m_wire; }
  const SimOptions& Options() const { return m_options; }

  // Burst, the optional idle and stray block request, then CMD_REQUEST until the tool answers
  // with `acceptCommand`.
  void Open(uint8_t acceptCommand);
  // Next sequence number for a frame the receiver starts.
  uint8_t NextSequence() { return ++m_sequence; }
  // Called before each block is asked for or answered: once the scripted number of blocks has
  // moved, hangs up or goes silent instead.
  void BeforeBlock();
  void BlockDone() { ++m_blocks; }
  uint32_t Blocks() const { return m_blocks; }
  // Wait of one answer of `payloadBytes` bytes: the reply time plus the line time at the baud.
  uint64_t ReplyWindowMs(size_t payloadBytes) const;
  // Waits until the tool closes the port (true) or `timeoutMs` passes (false). Frames that
  // arrive meanwhile go to `onFrame`.
  bool WaitForHangUp(uint64_t timeoutMs, const std::function<void()>& onFrame);

 private:
  void IdleBeforeRequest();
  void SendStrayBlockRequest();
  void RequestUntilAccepted(uint8_t acceptCommand);
  [[noreturn]] void GoSilent();

  SimWire m_wire;
  const SimOptions& m_options;
  std::function<void()> m_onPeerConnected;
  uint8_t m_sequence = 0;
  uint8_t m_requestSequence = 0;
  uint32_t m_blocks = 0;
};

// Runs a role's body; turns its result or its SessionEnd into the report and the exit status.
int RunReported(SimWire& wire, const std::function<std::string()>& body);

// Big-endian payload helpers.
std::vector<uint8_t> BE32Payload(uint32_t value);
std::vector<uint8_t> BlockRequestPayload(uint16_t length, uint32_t offset);
std::string Hex(uint32_t value);

}  // namespace kestal::sim

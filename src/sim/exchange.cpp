#include "sim/exchange.h"

#include <cstdio>

namespace kestal::sim {

void Fault(const std::string& message) { throw SessionEnd{1, message}; }

std::vector<uint8_t> BE32Payload(uint32_t value) {
  std::vector<uint8_t> payload(4);
  PutBE32(payload.data(), value);
  return payload;
}

std::vector<uint8_t> BlockRequestPayload(uint16_t length, uint32_t offset) {
  std::vector<uint8_t> payload(6);
  PutBE16(payload.data(), length);
  PutBE32(payload.data() + 2, offset);
  return payload;
}

std::string Hex(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%x", value);
  return text;
}

int RunReported(SimWire& wire, const std::function<std::string()>& body) {
  try {
    wire.Report(body());
    return 0;
  } catch (const SessionEnd& end) {
    wire.Report(end.message);
    return end.exitCode;
  }
}

ReceiverExchange::ReceiverExchange(const SimSession& session)
    : m_wire(session.link, session.options, session.log),
      m_options(session.options),
      m_onPeerConnected(session.onPeerConnected) {}

uint64_t ReceiverExchange::ReplyWindowMs(size_t payloadBytes) const {
  uint64_t window = m_options.replyTimeoutMs;
  if (m_options.baud != 0) window += (payloadBytes + 10) * 10 * 1000 / m_options.baud;
  return window;
}

void ReceiverExchange::Open(uint8_t acceptCommand) {
  const uint64_t seconds = m_options.timeoutMs / 1000;
  switch (m_wire.WaitForBurst(m_wire.Now() + m_options.timeoutMs)) {
    case WaitResult::kFrame:
      break;
    case WaitResult::kHungUp:
      Fault("the tool closed the port before its wake-up burst");
    default:
      Fault("no wake-up burst within " + std::to_string(seconds) + " s");
  }
  if (m_onPeerConnected) m_onPeerConnected();
  IdleBeforeRequest();
  if (m_options.blockRequestBeforeRequest) SendStrayBlockRequest();
  RequestUntilAccepted(acceptCommand);
}

void ReceiverExchange::IdleBeforeRequest() {
  if (m_options.idleBeforeRequestMs == 0) return;
  // A receiver still starting up ignores whatever arrives.
  const uint64_t until = m_wire.Now() + m_options.idleBeforeRequestMs;
  while (m_wire.Now() < until) {
    if (m_wire.Receive(until) == WaitResult::kHungUp) {
      Fault("the tool closed the port before the request");
    }
  }
}

void ReceiverExchange::SendStrayBlockRequest() {
  // Sequences of the exchange proper start at 1; this one stands apart.
  constexpr uint8_t kStraySequence = 0x80;
  const uint16_t length = static_cast<uint16_t>(m_options.blockSize);
  m_wire.Send(kStraySequence, CMD_BLOCK_REQUEST, BlockRequestPayload(length, 0));
  const uint64_t until = m_wire.Now() + ReplyWindowMs(length);
  for (;;) {
    const WaitResult result = m_wire.Receive(until);
    if (result == WaitResult::kTimeout) return;
    if (result == WaitResult::kHungUp) Fault("the tool closed the port before the request");
    if (result == WaitResult::kFrame && m_wire.Command() == CMD_BLOCK_DATA) {
      Fault("the tool answered a block request sent before CMD_REQUEST");
    }
  }
}

void ReceiverExchange::RequestUntilAccepted(uint8_t acceptCommand) {
  const uint8_t wrongAccept =
      acceptCommand == CMD_ACCEPT_DOWNLOAD ? CMD_ACCEPT_UPLOAD : CMD_ACCEPT_DOWNLOAD;
  m_requestSequence = NextSequence();
  for (uint32_t attempt = 0; attempt < m_options.attempts; ++attempt) {
    m_wire.Send(m_requestSequence, CMD_REQUEST, BE32Payload(m_options.requestValue));
    const uint64_t until = m_wire.Now() + ReplyWindowMs(0);
    for (;;) {
      const WaitResult result = m_wire.Receive(until);
      if (result == WaitResult::kHungUp) Fault("the tool closed the port before accepting");
      if (result != WaitResult::kFrame) break;  // lost or damaged answer: ask again
      if (m_wire.Sequence() != m_requestSequence) continue;
      if (m_wire.Command() == acceptCommand) return;
      if (m_wire.Command() == wrongAccept) {
        Fault(std::string("the tool answered CMD_REQUEST with ") + CommandName(wrongAccept) +
              ", expected " + CommandName(acceptCommand));
      }
    }
  }
  Fault(std::string("no ") + CommandName(acceptCommand) + " after " +
        std::to_string(m_options.attempts) + " requests");
}

void ReceiverExchange::BeforeBlock() {
  if (m_options.hangupAfterBlocks && m_blocks >= *m_options.hangupAfterBlocks) {
    m_wire.GetLink().CloseLink();
    throw SessionEnd{0, "hung up after " + std::to_string(m_blocks) + " blocks"};
  }
  if (m_options.silenceAfterBlocks && m_blocks >= *m_options.silenceAfterBlocks) GoSilent();
}

bool ReceiverExchange::WaitForHangUp(uint64_t timeoutMs, const std::function<void()>& onFrame) {
  const uint64_t until = m_wire.Now() + timeoutMs;
  for (;;) {
    switch (m_wire.Receive(until)) {
      case WaitResult::kHungUp:
        return true;
      case WaitResult::kTimeout:
        return false;
      case WaitResult::kFrame:
        if (onFrame) onFrame();
        break;
      case WaitResult::kBadSum:
        break;
    }
  }
}

void ReceiverExchange::GoSilent() {
  const std::string what = "went silent after " + std::to_string(m_blocks) + " blocks";
  m_wire.Report(what);
  if (WaitForHangUp(m_options.timeoutMs, {})) throw SessionEnd{0, what + "; the tool closed the port"};
  Fault(what + "; the tool still held the port after " +
        std::to_string(m_options.timeoutMs / 1000) + " s");
}

}  // namespace kestal::sim

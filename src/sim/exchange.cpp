#include "sim/exchange.h"

#include <cstdio>
#include <random>

namespace kestal::sim {

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

int RunReported(SimWire& wire, const std::function<SimEnd()>& body) {
  const SimEnd end = body();
  const uint32_t spoiled = wire.Spoiled();
  wire.Report(
      end.message +
      (spoiled == 0 ? "" : "; " + std::to_string(spoiled) + " frames lost or damaged on the line"));
  return end.exitCode;
}

ReceiverExchange::ReceiverExchange(const SimSession& session)
    : wire_(session.link, session.options, session.log),
      options_(session.options),
      onPeerConnected_(session.onPeerConnected),
      onPeerLeft_(session.onPeerLeft) {}

uint64_t ReceiverExchange::ReplyWindowMs(size_t payloadBytes) const {
  uint64_t window = options_.replyTimeoutMs;
  if (options_.baud != 0) window += (payloadBytes + 10) * 10 * 1000 / options_.baud;
  return window;
}

Step ReceiverExchange::Open(uint8_t acceptCommand) {
  const uint64_t seconds = options_.timeoutMs / 1000;
  switch (wire_.WaitForBurst(wire_.Now() + options_.timeoutMs)) {
    case WaitResult::Frame:
      break;
    case WaitResult::HungUp:
      return Fault("the tool closed the port before its wake-up burst");
    default:
      return Fault("no wake-up burst within " + std::to_string(seconds) + " s");
  }
  if (onPeerConnected_) onPeerConnected_();
  if (Step end = IdleBeforeRequest()) return end;
  if (options_.blockRequestBeforeRequest) {
    if (Step end = SendStrayBlockRequest()) return end;
  }
  if (options_.finishBeforeRequest) return FinishUnasked();
  if (options_.garbageBytes > 0) return SendGarbage();
  return RequestUntilAccepted(acceptCommand);
}

Step ReceiverExchange::IdleBeforeRequest() {
  if (options_.idleBeforeRequestMs == 0) return {};
  // A receiver still starting up ignores whatever arrives.
  const uint64_t until = wire_.Now() + options_.idleBeforeRequestMs;
  while (wire_.Now() < until) {
    if (wire_.Receive(until) == WaitResult::HungUp) {
      return Fault("the tool closed the port before the request");
    }
  }
  return {};
}

// A receiver that ends before it asked: the tool has sent nothing and must say so (which only its
// own report shows); here it must just close the port.
SimEnd ReceiverExchange::FinishUnasked() {
  wire_.Send(NextSequence(), CMD_FINISH, {});
  Step ignored;
  if (!WaitForHangUp(options_.timeoutMs, {}, ignored)) {
    return Fault("the tool kept the port open after CMD_FINISH");
  }
  return {0, "finished before any request; the tool closed the port"};
}

// A receiver at another line speed: what it sends arrives as bytes that never form a frame.
SimEnd ReceiverExchange::SendGarbage() {
  std::mt19937 random(options_.faults.seed);
  std::uniform_int_distribution<int> byte(0, 254);
  std::vector<uint8_t> garbage(options_.garbageBytes);
  for (uint8_t& b : garbage) {
    const int value = byte(random);
    b = static_cast<uint8_t>(value >= kFrameSync[0] ? value + 1 : value);  // never a sync
  }
  wire_.GetLink().SendBytes(garbage.data(), garbage.size());
  const std::string what = "sent " + std::to_string(garbage.size()) + " bytes of garbage";
  Step ignored;
  if (!WaitForHangUp(options_.timeoutMs, {}, ignored)) return Fault(what + "; the tool stayed");
  return {0, what + "; the tool closed the port"};
}

Step ReceiverExchange::SendStrayBlockRequest() {
  // Sequences of the exchange proper start at 1; this one stands apart.
  constexpr uint8_t kStraySequence = 0x80;
  const uint16_t length = static_cast<uint16_t>(options_.blockSize);
  wire_.Send(kStraySequence, CMD_BLOCK_REQUEST, BlockRequestPayload(length, 0));
  const uint64_t until = wire_.Now() + ReplyWindowMs(length);
  for (;;) {
    const WaitResult result = wire_.Receive(until);
    if (result == WaitResult::Timeout) return {};
    if (result == WaitResult::HungUp) return Fault("the tool closed the port before the request");
    if (result == WaitResult::Frame && wire_.Command() == CMD_BLOCK_DATA) {
      return Fault("the tool answered a block request sent before CMD_REQUEST");
    }
  }
}

Step ReceiverExchange::RequestUntilAccepted(uint8_t acceptCommand) {
  const uint8_t wrongAccept =
      acceptCommand == CMD_ACCEPT_DOWNLOAD ? CMD_ACCEPT_UPLOAD : CMD_ACCEPT_DOWNLOAD;
  const uint8_t requestSequence = NextSequence();
  bool toolAway = false;
  for (uint32_t attempt = 0; attempt < options_.attempts; ++attempt) {
    const size_t heard = wire_.GetLink().Queue().Count();
    wire_.Send(requestSequence, CMD_REQUEST, BE32Payload(options_.requestValue));
    if (options_.hangupAfterRequest) return HangUpBeforeTheAnswer(heard);
    const uint64_t until = wire_.Now() + ReplyWindowMs(0);
    for (;;) {
      const WaitResult result = wire_.Receive(until);
      if (result == WaitResult::HungUp) {
        // A receiver cannot see the port closed at the far end of its cable: it keeps asking,
        // and a tool that reopens the port (a probe handing it to the transfer) gets the next
        // request.
        if (!onPeerLeft_ || !onPeerLeft_())
          return Fault("the tool closed the port before accepting");
        toolAway = true;
        continue;
      }
      if (result != WaitResult::Frame) break;  // lost or damaged answer: ask again
      toolAway = false;
      if (wire_.Sequence() != requestSequence) continue;
      if (wire_.Command() == acceptCommand) {
        if (onPeerConnected_) onPeerConnected_();  // a tool that came back is talking for good
        return {};
      }
      if (wire_.Command() == wrongAccept) {
        return Fault(std::string("the tool answered CMD_REQUEST with ") + CommandName(wrongAccept) +
                     ", expected " + CommandName(acceptCommand));
      }
    }
  }
  if (toolAway) return Fault("the tool closed the port before accepting");
  return Fault(std::string("no ") + CommandName(acceptCommand) + " after " +
               std::to_string(options_.attempts) + " requests");
}

// An adapter pulled out after its receiver asked, before the tool's answer got through: the port
// goes as the tool's next bytes arrive (more than the `heard` held before the request), however
// long the tool looked at the port first. A tool that closes the port instead ends it too.
SimEnd ReceiverExchange::HangUpBeforeTheAnswer(size_t heard) {
  Link& link = wire_.GetLink();
  const uint64_t until = wire_.Now() + options_.timeoutMs;
  while (link.Queue().Count() <= heard && !link.IsHungUp() && wire_.Now() < until) {
    link.WaitForBytes(until, heard + 1);
  }
  const bool answered = link.Queue().Count() > heard;
  link.CloseLink();
  if (!answered && !link.IsHungUp()) return Fault("the tool sent nothing after the request");
  return {0, "hung up after its request, before the tool's answer"};
}

Step ReceiverExchange::BeforeBlock() {
  if (options_.hangupAfterBlocks && blocks_ >= *options_.hangupAfterBlocks) {
    wire_.GetLink().CloseLink();
    return SimEnd{0, "hung up after " + std::to_string(blocks_) + " blocks"};
  }
  if (options_.silenceAfterBlocks && blocks_ >= *options_.silenceAfterBlocks) return GoSilent();
  return {};
}

bool ReceiverExchange::WaitForHangUp(uint64_t timeoutMs, const FrameCheck& onFrame, Step& ended) {
  const uint64_t until = wire_.Now() + timeoutMs;
  for (;;) {
    switch (wire_.Receive(until)) {
      case WaitResult::HungUp:
        return true;
      case WaitResult::Timeout:
        return false;
      case WaitResult::Frame:
        if (onFrame) ended = onFrame();
        if (ended) return false;
        break;
      case WaitResult::BadSum:
        break;
    }
  }
}

SimEnd ReceiverExchange::GoSilent() {
  const std::string what = "went silent after " + std::to_string(blocks_) + " blocks";
  wire_.Report(what);
  Step ended;
  if (WaitForHangUp(options_.timeoutMs, {}, ended)) {
    return SimEnd{0, what + "; the tool closed the port"};
  }
  return Fault(what + "; the tool still held the port after " +
               std::to_string(options_.timeoutMs / 1000) + " s");
}

}  // namespace kestal::sim

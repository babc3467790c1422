#include <cstdio>

#include "link/frame_codec.h"
#include "recording/line_timeline.h"
#include "sim/exchange.h"
#include "sim/replay.h"

namespace kestal::sim {
namespace {

using recording::RecordedEvent;
using recording::TimedUnit;

// One thing the receiver did: a piece of bytes sent, or the port closed. It happened `delayMs`
// after the tool's `after`-th frame or burst (counted from 1) had come in.
struct ReceiverStep {
  const RecordedEvent* event;
  size_t after;
  uint64_t delayMs;
};

bool IsToolUnit(const LineUnit& unit) {
  return unit.kind == LineUnit::Kind::Frame || unit.kind == LineUnit::Kind::Burst;
}

std::string Describe(const LineUnit& unit) {
  if (unit.kind == LineUnit::Kind::Burst) return "the wake-up burst";
  if (unit.kind != LineUnit::Kind::Frame) return "stray bytes";
  char text[64];
  std::snprintf(text, sizeof text, "%s seq %02x len %u", CommandName(unit.Command()),
                unit.Sequence(), unit.PayloadLength());
  return text;
}

class ReplayRole {
 public:
  ReplayRole(const SimSession& session, const recording::Recording& recording)
      : wire_(session.link, session.options, session.log),
        link_(session.link),
        options_(session.options),
        onPeerConnected_(session.onPeerConnected) {
    for (TimedUnit& timed : recording::DecodeDirection(recording, false)) {
      if (IsToolUnit(timed.unit)) expected_.push_back(std::move(timed));
    }
    for (const RecordedEvent& event : recording.events) {
      if (event.kind != RecordedEvent::Kind::ToReceiver) steps_.push_back(StepFor(event));
    }
  }

  SimWire& Wire() { return wire_; }

  SimEnd Run() {
    for (const ReceiverStep& step : steps_) {
      if (Step end = AwaitToolUnits(step.after)) return *end;
      const uint64_t due = step.after == 0 ? 0 : arrivals_[step.after - 1] + step.delayMs;
      while (wire_.Now() < due) {
        if (Step end = Pump(due)) return *end;
        if (link_.IsHungUp()) {
          return Fault("the tool closed the port before the receiver's line " +
                       std::to_string(step.event->line) + " was played");
        }
      }
      if (step.event->kind == RecordedEvent::Kind::HangUp) {
        link_.CloseLink();
        return Verdict("hung up as recorded");
      }
      if (options_.trace) wire_.Report("> line " + std::to_string(step.event->line));
      link_.SendBytes(step.event->bytes.data(), step.event->bytes.size());
    }
    if (Step end = AwaitToolUnits(expected_.size())) return *end;
    return AwaitToolLeaving();
  }

 private:
  // The tool's units the receiver had seen when it did `event`, and how long after the last.
  ReceiverStep StepFor(const RecordedEvent& event) const {
    size_t after = 0;
    while (after < expected_.size() && expected_[after].micros <= event.micros) ++after;
    // What the receiver sent before the tool's first burst can only follow it here.
    if (after == 0) return {&event, expected_.empty() ? size_t{0} : size_t{1}, 0};
    return {&event, after, (event.micros - expected_[after - 1].micros) / 1000};
  }

  // Reads what the tool sent until `deadlineMs`; a unit other than the recorded one ends it.
  Step Pump(uint64_t deadlineMs) {
    link_.WaitForData(deadlineMs);
    uint8_t bytes[512];
    for (size_t n; (n = link_.Queue().PopChunk(bytes, sizeof bytes)) > 0;) {
      std::optional<SimEnd> ended;
      scanner_.Feed(bytes, n, [&](LineUnit&& unit) {
        if (!ended && IsToolUnit(unit)) ended = Compare(unit);
      });
      if (ended) return ended;
    }
    if (link_.IsHungUp()) {
      return arrivals_.size() < expected_.size() ? Diverged("closed the port", arrivals_.size())
                                                 : Step{};
    }
    return {};
  }

  Step Compare(const LineUnit& unit) {
    const size_t index = arrivals_.size();
    if (index >= expected_.size()) {
      return Fault("the tool sent " + Describe(unit) + " after all that the recording holds");
    }
    const LineUnit& recorded = expected_[index].unit;
    if (unit.kind != recorded.kind || unit.bytes.size() != recorded.bytes.size() ||
        (unit.kind == LineUnit::Kind::Frame &&
         (unit.Command() != recorded.Command() || unit.Sequence() != recorded.Sequence()))) {
      return Diverged("sent " + Describe(unit), index);
    }
    if (unit.bytes != recorded.bytes) ++otherData_;
    arrivals_.push_back(wire_.Now());
    if (index == 0 && onPeerConnected_) onPeerConnected_();  // its close now shows as a hang-up
    if (options_.trace) wire_.Report("< " + Describe(unit));
    return {};
  }

  Step AwaitToolUnits(size_t count) {
    const uint64_t until = wire_.Now() + options_.timeoutMs;
    while (arrivals_.size() < count) {
      if (wire_.Now() >= until) return Diverged("sent nothing more", arrivals_.size());
      if (Step end = Pump(until)) return end;
      if (link_.IsHungUp() && arrivals_.size() < count) {
        return Diverged("closed the port", arrivals_.size());
      }
    }
    return {};
  }

  SimEnd AwaitToolLeaving() {
    const uint64_t until = wire_.Now() + options_.timeoutMs;
    while (!link_.IsHungUp()) {
      if (wire_.Now() >= until) return Fault("the tool still held the port after the recording");
      if (Step end = Pump(until)) return *end;
    }
    return Verdict("the tool closed the port");
  }

  SimEnd Diverged(const std::string& what, size_t index) const {
    return Fault("the tool " + what + " where the recording has " +
                 Describe(expected_[index].unit) + " (line " +
                 std::to_string(expected_[index].line) + ")");
  }

  SimEnd Verdict(const std::string& ending) const {
    const std::string played = "replayed " + std::to_string(steps_.size()) +
                               " steps of the receiver, " + std::to_string(arrivals_.size()) +
                               " frames of the tool as recorded; " + ending;
    if (otherData_ == 0) return {0, played};
    return Fault(played + ", but " + std::to_string(otherData_) +
                 " of the tool's frames carried other data (another file?)");
  }

  SimWire wire_;
  Link& link_;
  const SimOptions& options_;
  std::function<void()> onPeerConnected_;
  std::vector<TimedUnit> expected_;  // the tool's frames and bursts, as recorded
  std::vector<ReceiverStep> steps_;
  FrameScanner scanner_;            // the tool's bytes now
  std::vector<uint64_t> arrivals_;  // when each of the tool's units came in now
  size_t otherData_ = 0;
};

}  // namespace

int RunReplayRole(const SimSession& session, const recording::Recording& recording) {
  ReplayRole role(session, recording);
  return RunReported(role.Wire(), [&] { return role.Run(); });
}

}  // namespace kestal::sim

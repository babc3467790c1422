#include "recording/line_timeline.h"

#include <algorithm>

namespace kestal::recording {
namespace {

// Where each recorded piece of a stream ends, and when and on which line it passed.
struct PieceEnd {
  uint64_t streamEnd;
  uint64_t micros;
  size_t line;
};

}  // namespace

std::vector<TimedUnit> DecodeDirection(const Recording& recording, bool fromReceiver) {
  const auto kind =
      fromReceiver ? RecordedEvent::Kind::FromReceiver : RecordedEvent::Kind::ToReceiver;
  std::vector<PieceEnd> pieces;
  std::vector<LineUnit> units;
  FrameScanner scanner;
  const auto keep = [&units](LineUnit&& unit) { units.push_back(std::move(unit)); };
  uint64_t streamEnd = 0;
  for (const RecordedEvent& event : recording.events) {
    if (event.kind != kind) continue;
    streamEnd += event.bytes.size();
    pieces.push_back({streamEnd, event.micros, event.line});
    scanner.Feed(event.bytes.data(), event.bytes.size(), keep);
  }
  scanner.Finish(keep);

  std::vector<TimedUnit> timed;
  for (LineUnit& unit : units) {
    const auto piece =
        std::lower_bound(pieces.begin(), pieces.end(), unit.end,
                         [](const PieceEnd& p, uint64_t offset) { return p.streamEnd < offset; });
    timed.push_back({std::move(unit), fromReceiver, piece->micros, piece->line});
  }
  return timed;
}

std::vector<TimedUnit> DecodeTimeline(const Recording& recording) {
  std::vector<TimedUnit> timeline = DecodeDirection(recording, false);
  std::vector<TimedUnit> received = DecodeDirection(recording, true);
  timeline.insert(timeline.end(), std::make_move_iterator(received.begin()),
                  std::make_move_iterator(received.end()));
  std::stable_sort(timeline.begin(), timeline.end(), [](const TimedUnit& a, const TimedUnit& b) {
    return a.line < b.line;  // lines are in time order, and ties keep the order they passed
  });
  return timeline;
}

}  // namespace kestal::recording

// kestal-cli trace: a recording made with --record, as the frames that crossed the line.
#include <algorithm>
#include <cstdio>
#include <string>

#include "cli/commands.h"
#include "common/printable.h"
#include "link/frame_codec.h"
#include "recording/line_timeline.h"

namespace kestal::cli {
namespace {

using recording::TimedUnit;

// A quiet line this long is worth a mark: half the time the frame reader waits for a sync.
constexpr uint64_t kGapMicros = 250'000;
// Payload bytes shown of a frame whose payload has no meaning of its own here.
constexpr size_t kShownBytes = 8;

std::string Format(const char* format, auto... values) {
  char text[96];
  std::snprintf(text, sizeof text, format, values...);
  return text;
}

std::string Seconds(uint64_t micros) { return Format("%.6f", static_cast<double>(micros) / 1e6); }

std::string HexBytes(const uint8_t* data, size_t size) {
  std::string text;
  for (size_t i = 0; i < size && i < kShownBytes; ++i) {
    text += Format("%s%02x", i ? " " : "", data[i]);
  }
  if (size > kShownBytes) text += " ...";
  return text;
}

// What the payload says, in the words of its command.
std::string PayloadSummary(const LineUnit& frame) {
  const uint8_t* payload = frame.Payload();
  const size_t length =
      std::min<size_t>(frame.PayloadLength(), frame.bytes.size() - kFrameHeaderSize - 1);
  switch (frame.Command()) {
    case CMD_REQUEST:
      if (length >= 4) return Format("request value 0x%08x", GetBE32(payload));
      break;
    case CMD_BLOCK_REQUEST:
      if (length >= 6) {
        return Format("%u bytes at offset %u", GetBE16(payload), GetBE32(payload + 2));
      }
      break;
    case CMD_SIZE_QUERY:
      if (length >= 2) return Format("data type %u", GetBE16(payload));
      break;
    case CMD_SIZE_REPLY:
      if (length >= 4) return Format("size %u bytes", GetBE32(payload));
      break;
    default:
      break;
  }
  return HexBytes(payload, length);
}

std::string UnitText(const TimedUnit& timed) {
  const LineUnit& unit = timed.unit;
  const std::string direction = timed.fromReceiver ? "<  " : ">  ";
  const auto size = static_cast<unsigned>(unit.end - unit.begin);
  switch (unit.kind) {
    case LineUnit::Kind::Frame:
      return direction +
             Format("seq %02x  %-19s len %-5u ", unit.Sequence(), CommandName(unit.Command()),
                    unit.PayloadLength()) +
             (unit.sumOk ? "sum ok   " : "sum BAD  ") + PayloadSummary(unit);
    case LineUnit::Kind::Burst:
      return direction + Format("        wake-up burst       %u bytes", size);
    case LineUnit::Kind::Stray:
      return direction + Format("        stray bytes         %u bytes: ", size) +
             HexBytes(unit.bytes.data(), unit.bytes.size());
    case LineUnit::Kind::Incomplete:
      break;
  }
  return direction + Format("        incomplete frame    %u bytes, the line ends in it", size);
}

void PrintHeader(const recording::RecordingHeader& header) {
  std::printf("%s: %s, %s, %s on %s (%s), %s, started %s\n", Printable(header.program).c_str(),
              Printable(header.command).c_str(), Printable(header.mode).c_str(),
              Printable(header.file).c_str(), Printable(header.port).c_str(),
              Printable(header.portName).c_str(), Printable(header.settings).c_str(),
              Printable(header.startedUtc).c_str());
  std::printf("%12s  %s\n", "seconds", "> to the receiver, < from the receiver");
}

struct TraceLine {
  size_t line;  // in the recording: what came first
  uint64_t micros;
  std::string text;
};

// Units, the port going away and the end, in the order they happened, with the quiet spells.
void PrintTimeline(const recording::Recording& recording) {
  std::vector<TraceLine> lines;
  for (const TimedUnit& timed : recording::DecodeTimeline(recording)) {
    lines.push_back({timed.line, timed.micros, UnitText(timed)});
  }
  for (const recording::RecordedEvent& event : recording.events) {
    if (event.kind == recording::RecordedEvent::Kind::HangUp) {
      lines.push_back({event.line, event.micros, "   the port went away"});
    }
  }
  std::stable_sort(lines.begin(), lines.end(),
                   [](const TraceLine& a, const TraceLine& b) { return a.line < b.line; });
  if (const auto& end = recording.end) {
    lines.push_back(
        {0, end->micros,
         Format("   end: %s, exit status %d", Printable(end->outcome).c_str(), end->exitStatus)});
  }
  uint64_t last = 0;
  for (const TraceLine& line : lines) {
    if (line.micros - last >= kGapMicros) {
      std::printf("%12s  -- %.3f s quiet --\n", "", static_cast<double>(line.micros - last) / 1e6);
    }
    last = line.micros;
    const size_t end = line.text.find_last_not_of(' ') + 1;  // a frame without payload
    std::printf("%12s  %.*s\n", Seconds(line.micros).c_str(), static_cast<int>(end),
                line.text.c_str());
  }
}

}  // namespace

int RunTrace(const std::string& path) {
  const recording::ReadResult read = recording::ReadRecording(path);
  if (!read.error.empty() && !read.cutShort) {
    std::fprintf(stderr, "kestal-cli: %s: %s\n", Printable(path).c_str(), read.error.c_str());
    return 1;
  }
  PrintHeader(read.recording.header);
  PrintTimeline(read.recording);
  std::fflush(stdout);
  if (read.cutShort) {
    std::fprintf(stderr, "kestal-cli: %s: %s\n", Printable(path).c_str(), read.error.c_str());
    return 1;
  }
  return 0;
}

}  // namespace kestal::cli

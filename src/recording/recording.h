#pragma once
// A recording of one session on the serial line: what was run, every byte each way with the
// time it passed, the port going away, and how the session ended. Stored one JSON object a
// line; kestal-cli(1) holds the schema. Written by SessionRecorder, read back here for
// `kestal-cli trace` and `kestal-sim --replay`.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kestal::recording {

// The format this program writes and the newest it reads.
constexpr int kRecordingFormat = 1;

struct RecordingHeader {
  std::string program{};     // "kestal-cli 1.0"
  std::string command{};     // "send" or "receive"
  std::string mode{};        // "software" or "channels"
  std::string file{};        // as given on the command line
  std::string port{};        // the device path opened
  std::string portName{};    // the port's friendly name
  std::string settings{};    // "115200 8N1"
  std::string startedUtc{};  // wall-clock time of the start, ISO 8601
};

struct RecordedEvent {
  enum class Kind { ToReceiver, FromReceiver, HangUp };
  Kind kind = Kind::ToReceiver;
  uint64_t micros = 0;  // since the recording started, on the monotonic clock
  std::vector<uint8_t> bytes;
  size_t line = 0;  // in the file, for messages
};

struct RecordingEnd {
  uint64_t micros = 0;
  std::string outcome;  // "completed", "failed", "stopped", "timed out", "not started"
  int exitStatus = 0;
};

struct Recording {
  int format = kRecordingFormat;
  RecordingHeader header;
  std::vector<RecordedEvent> events;
  std::optional<RecordingEnd> end;  // none when the recording was cut short
};

struct ReadResult {
  Recording recording;    // as far as it could be read
  std::string error;      // empty when the whole recording was read; else "line N: ...", or why
                          // the file cannot be opened
  bool cutShort = false;  // the lines read are sound, the rest (and the end line) is missing
};

// Reads the recording at `path` (UTF-8).
ReadResult ReadRecording(const std::string& path);

// The lines of the format, each without its newline.
std::string HeaderLine(const RecordingHeader& header);
std::string BytesLine(uint64_t micros, bool fromReceiver, const uint8_t* data, size_t size);
std::string HangUpLine(uint64_t micros);
std::string EndLine(const RecordingEnd& end);

}  // namespace kestal::recording

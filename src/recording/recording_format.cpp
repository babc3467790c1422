// The recording's lines, written and read with nlohmann::json. Reading refuses anything it
// cannot vouch for, naming the line, so nothing is decoded or replayed from a damaged file.
#include <cerrno>
#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>

#include "common/utf8_path.h"
#include "recording/recording.h"

namespace kestal::recording {
namespace {

using Json = nlohmann::json;
using Kind = RecordedEvent::Kind;

constexpr const char* kFormatKey = "kestal_recording";

std::string Hex(const uint8_t* data, size_t size) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text(2 * size, '0');
  for (size_t i = 0; i < size; ++i) {
    text[2 * i] = kDigits[data[i] >> 4];
    text[2 * i + 1] = kDigits[data[i] & 0x0F];
  }
  return text;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool FromHex(const std::string& text, std::vector<uint8_t>& bytes) {
  if (text.empty() || text.size() % 2 != 0) return false;
  bytes.resize(text.size() / 2);
  for (size_t i = 0; i < bytes.size(); ++i) {
    const int high = HexDigit(text[2 * i]);
    const int low = HexDigit(text[2 * i + 1]);
    if (high < 0 || low < 0) return false;
    bytes[i] = static_cast<uint8_t>(high << 4 | low);
  }
  return true;
}

std::string Text(const Json& object, const char* key) {
  const auto found = object.find(key);
  return found != object.end() && found->is_string() ? found->get<std::string>() : std::string();
}

// One line after the header; an error text (without the line number) when it is unsound.
class LineReader {
 public:
  explicit LineReader(Recording& recording) : recording_(recording) {}

  std::string Take(const Json& line, size_t number) {
    if (recording_.end) return "a line after the end line";
    if (!line.is_object()) return "not a JSON object";
    const auto time = line.find("us");
    if (time == line.end() || !time->is_number_unsigned()) return "no time (\"us\")";
    const uint64_t micros = time->get<uint64_t>();
    if (micros < lastMicros_) return "its time lies before the line above";
    lastMicros_ = micros;
    if (line.contains("end")) return TakeEnd(line, micros);
    RecordedEvent event{Kind::HangUp, micros, {}, number};
    if (line.contains("out") || line.contains("in")) {
      event.kind = line.contains("out") ? Kind::ToReceiver : Kind::FromReceiver;
      const Json& bytes = line.contains("out") ? line["out"] : line["in"];
      if (!bytes.is_string() || !FromHex(bytes.get<std::string>(), event.bytes)) {
        return "bytes that are not hexadecimal";
      }
    } else if (!line.contains("hangup")) {
      return "neither bytes nor an event";
    }
    recording_.events.push_back(std::move(event));
    return {};
  }

 private:
  std::string TakeEnd(const Json& line, uint64_t micros) {
    const auto status = line.find("exit_status");
    if (!line["end"].is_string() || status == line.end() || !status->is_number_integer()) {
      return "an end line without outcome and exit status";
    }
    recording_.end = RecordingEnd{micros, line["end"].get<std::string>(), status->get<int>()};
    return {};
  }

  Recording& recording_;
  uint64_t lastMicros_ = 0;
};

std::string AtLine(size_t number, const std::string& what) {
  return "line " + std::to_string(number) + ": " + what;
}

// The first line: what it is, and whether this program can read it.
std::string TakeHeader(const Json& line, Recording& recording) {
  const auto format = line.is_object() ? line.find(kFormatKey) : line.end();
  if (!line.is_object() || format == line.end() || !format->is_number_integer() ||
      format->get<int>() < 1) {
    return "not a kestal recording";
  }
  recording.format = format->get<int>();
  if (recording.format > kRecordingFormat) {
    return "recording format " + std::to_string(recording.format) +
           " is newer than this program reads (" + std::to_string(kRecordingFormat) +
           "); use a newer kestal";
  }
  RecordingHeader& header = recording.header;
  header.program = Text(line, "program");
  header.command = Text(line, "command");
  header.mode = Text(line, "mode");
  header.file = Text(line, "file");
  header.port = Text(line, "port");
  header.portName = Text(line, "port_name");
  header.settings = Text(line, "settings");
  header.startedUtc = Text(line, "started");
  return {};
}

}  // namespace

std::string HeaderLine(const RecordingHeader& header) {
  // In this order, so that a person opening the file reads first what it is.
  return nlohmann::ordered_json{
      {kFormatKey, kRecordingFormat}, {"program", header.program},   {"command", header.command},
      {"mode", header.mode},          {"file", header.file},         {"port", header.port},
      {"port_name", header.portName}, {"settings", header.settings}, {"started", header.startedUtc}}
      .dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

std::string BytesLine(uint64_t micros, bool fromReceiver, const uint8_t* data, size_t size) {
  return "{\"us\":" + std::to_string(micros) + (fromReceiver ? ",\"in\":\"" : ",\"out\":\"") +
         Hex(data, size) + "\"}";
}

std::string HangUpLine(uint64_t micros) {
  return "{\"us\":" + std::to_string(micros) + ",\"hangup\":true}";
}

std::string EndLine(const RecordingEnd& end) {
  return Json{{"us", end.micros}, {"end", end.outcome}, {"exit_status", end.exitStatus}}.dump();
}

ReadResult ReadRecording(const std::string& path) {
  ReadResult result;
  errno = 0;
  std::ifstream in(Utf8Path(path), std::ios::binary);
  if (!in) {
    result.error = std::string("cannot be opened: ") + std::strerror(errno);
    return result;
  }
  LineReader reader(result.recording);
  std::string text;
  size_t number = 0;
  while (std::getline(in, text)) {
    ++number;
    const bool whole = !in.eof();  // the last line of a finished recording ends in a newline
    const Json line = Json::parse(text, nullptr, false);
    std::string problem;
    if (line.is_discarded()) {
      problem = "not JSON";
    } else {
      problem = number == 1 ? TakeHeader(line, result.recording) : reader.Take(line, number);
    }
    if (problem.empty()) continue;
    // A last line without its newline is where the writing stopped, not a damaged file.
    result.cutShort = !whole && number > 1;
    result.error = AtLine(number, result.cutShort ? "the recording breaks off here" : problem);
    return result;
  }
  if (number == 0) {
    result.error = AtLine(1, "empty file, not a kestal recording");
  } else if (!result.recording.end) {
    result.cutShort = true;
    result.error = AtLine(number + 1, "the recording ends without its end line: it was cut short");
  }
  return result;
}

}  // namespace kestal::recording

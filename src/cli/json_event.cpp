#include "cli/json_event.h"

#include <cstdio>

#include "common/printable.h"

namespace kestal::cli {
namespace {

std::string Quoted(const std::string& text) {
  std::string out = "\"";
  for (size_t at = 0; at < text.size();) {
    uint32_t code = 0;
    const size_t length = printable_detail::DecodeUtf8(text, at, code);
    char escaped[8];
    if (length == 0) {
      std::snprintf(escaped, sizeof escaped, "\\\\x%02x", static_cast<unsigned char>(text[at]));
      out += escaped;
      ++at;
      continue;
    }
    if (code == '"' || code == '\\') {
      out += '\\';
      out += static_cast<char>(code);
    } else if (code < 0x20 || code == 0x7F) {
      std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(code));
      out += escaped;
    } else {
      out.append(text, at, length);
    }
    at += length;
  }
  return out + "\"";
}

}  // namespace

JsonLine& JsonLine::Key(const char* key) {
  if (text_.size() > 1) text_ += ',';
  text_ += Quoted(key) + ':';
  return *this;
}

JsonLine& JsonLine::Text(const char* key, const std::string& value) {
  Key(key).text_ += Quoted(value);
  return *this;
}

JsonLine& JsonLine::Integer(const char* key, int64_t value) {
  Key(key).text_ += std::to_string(value);
  return *this;
}

JsonLine& JsonLine::Decimal(const char* key, double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", value);
  Key(key).text_ += text;
  return *this;
}

std::string FormatJsonEvent(const JsonEvent& event) {
  JsonLine line;
  line.Text("phase", event.phase)
      .Text("status", event.status)
      .Text("detail", event.detail)
      .Integer("percent", event.percent)
      .Integer("bytes_done", static_cast<int64_t>(event.bytesDone))
      .Integer("bytes_total", static_cast<int64_t>(event.bytesTotal))
      .Decimal("rate", event.rate)
      .Decimal("elapsed", event.elapsed);
  if (event.exitStatus) line.Integer("exit_status", *event.exitStatus);
  return line.Done();
}

}  // namespace kestal::cli

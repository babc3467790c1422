#include "cli/json_event.h"

#include <cstdio>

#include "common/printable.h"

namespace kestal::cli {
namespace {

// A JSON string that is valid UTF-8 whatever `text` holds: control characters as \u escapes,
// a byte that is no part of valid UTF-8 (a file name from another locale) as the text \xNN.
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

std::string Number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", value);
  return text;
}

}  // namespace

std::string FormatJsonEvent(const JsonEvent& event) {
  std::string line = "{\"phase\":" + Quoted(event.phase) + ",\"status\":" + Quoted(event.status) +
                     ",\"detail\":" + Quoted(event.detail) +
                     ",\"percent\":" + std::to_string(event.percent) +
                     ",\"bytes_done\":" + std::to_string(event.bytesDone) +
                     ",\"bytes_total\":" + std::to_string(event.bytesTotal) +
                     ",\"rate\":" + Number(event.rate) + ",\"elapsed\":" + Number(event.elapsed);
  if (event.exitStatus) line += ",\"exit_status\":" + std::to_string(*event.exitStatus);
  return line + "}";
}

}  // namespace kestal::cli

#include "cli/json_event.h"

#include <cstdio>

namespace kestal::cli {
namespace {

std::string Quoted(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
    } else {
      out += c;
    }
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

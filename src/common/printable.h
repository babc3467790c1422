#pragma once
// Text from outside (file names, port names) shown on a status line, a terminal or in the
// window: control characters and bytes that are not UTF-8 are shown as escapes, so a name can
// neither fake a line of its own nor send a terminal its escape sequences.
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace kestal {

namespace printable_detail {

inline void AppendEscape(std::string& out, const char* format, uint32_t value) {
  char text[12];
  std::snprintf(text, sizeof text, format, value);
  out += text;
}

// Length of the UTF-8 sequence at `at` (1 to 4), or 0 when it is not one (overlong forms,
// surrogates and values past U+10FFFF included). `code` receives its value.
inline size_t DecodeUtf8(std::string_view text, size_t at, uint32_t& code) {
  const auto byte = [&](size_t i) { return static_cast<uint8_t>(text[i]); };
  const uint8_t lead = byte(at);
  size_t length = 0;
  uint32_t minimum = 0;
  if (lead < 0x80) {
    code = lead;
    return 1;
  }
  if ((lead & 0xE0) == 0xC0) {
    length = 2;
    minimum = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3;
    minimum = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4;
    minimum = 0x10000;
  } else {
    return 0;
  }
  code = lead & (0x7Fu >> length);
  if (at + length > text.size()) return 0;
  for (size_t i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xC0) != 0x80) return 0;
    code = (code << 6) | (byte(at + i) & 0x3Fu);
  }
  if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  return length;
}

// C0 and C1 controls, DEL, and the separators that some displays break lines at.
inline bool IsControl(uint32_t code) {
  return code < 0x20 || (code >= 0x7F && code <= 0x9F) || code == 0x2028 || code == 0x2029;
}

}  // namespace printable_detail

// `text` with every control character written as \xNN (\uNNNN above U+00FF) and every byte
// that is not part of valid UTF-8 as \xNN; everything else, backslashes included, unchanged.
inline std::string Printable(std::string_view text) {
  using namespace printable_detail;
  std::string out;
  out.reserve(text.size());
  for (size_t at = 0; at < text.size();) {
    uint32_t code = 0;
    const size_t length = DecodeUtf8(text, at, code);
    if (length == 0) {
      AppendEscape(out, "\\x%02x", static_cast<uint8_t>(text[at]));
      ++at;
      continue;
    }
    if (IsControl(code)) {
      AppendEscape(out, code <= 0xFF ? "\\x%02x" : "\\u%04x", code);
    } else {
      out.append(text.substr(at, length));
    }
    at += length;
  }
  return out;
}

}  // namespace kestal

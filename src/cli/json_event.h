#pragma once
// One line of `--progress=json`: a status text, a progress step or the outcome, as a JSON
// object a script can read line by line. The fields are listed in kestal-cli(1).
#include <cstdint>
#include <optional>
#include <string>

namespace kestal::cli {

struct JsonEvent {
  std::string phase;  // "status", "progress" or "outcome"
  std::string status;
  std::string detail;
  int percent = 0;
  uint64_t bytesDone = 0;
  uint64_t bytesTotal = 0;
  double rate = 0;                // bytes per second, 0 until measured
  double elapsed = 0;             // seconds since the port was opened
  std::optional<int> exitStatus;  // the outcome's only
};

std::string FormatJsonEvent(const JsonEvent& event);

// A JSON object built field by field on one line, valid UTF-8 whatever the texts hold: control
// characters as \u escapes, a byte that is no part of valid UTF-8 (a file name from another
// locale) as the text \xNN.
class JsonLine {
 public:
  JsonLine& Text(const char* key, const std::string& value);
  JsonLine& Integer(const char* key, int64_t value);
  JsonLine& Decimal(const char* key, double value);  // three decimals
  std::string Done() const { return text_ + "}"; }

 private:
  JsonLine& Key(const char* key);
  std::string text_ = "{";
};

}  // namespace kestal::cli

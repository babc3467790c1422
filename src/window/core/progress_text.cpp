#include "window/core/progress_text.h"

#include <cstdio>

namespace kestal::window {
namespace {

constexpr double kKilo = 1024.0;
constexpr double kMega = 1024.0 * 1024.0;

std::string Size(double bytes) {
  char text[32];
  if (bytes < kKilo)
    std::snprintf(text, sizeof text, "%lld B", static_cast<long long>(bytes));
  else if (bytes < kMega)
    std::snprintf(text, sizeof text, "%lld KB", static_cast<long long>(bytes / kKilo));
  else
    std::snprintf(text, sizeof text, "%.1f MB", bytes / kMega);
  return text;
}

std::string Duration(double seconds) {
  const long long whole = static_cast<long long>(seconds + 0.5);
  char text[32];
  std::snprintf(text, sizeof text, "%lld:%02lld", whole / 60, whole % 60);
  return text;
}

}  // namespace

std::string ProgressText(uint64_t bytesDone, uint64_t bytesTotal, double seconds) {
  if (bytesTotal == 0) return {};
  const double done = static_cast<double>(bytesDone);
  std::string text = Size(done) + " of " + Size(static_cast<double>(bytesTotal));
  if (bytesDone == 0 || seconds <= 0) return text;
  const double rate = done / seconds;
  const double left = static_cast<double>(bytesTotal > bytesDone ? bytesTotal - bytesDone : 0);
  return text + " \u00b7 " + Size(rate) + "/s \u00b7 " + Duration(left / rate) + " left";
}

std::string MovedText(uint64_t bytes, bool sent, double seconds) {
  return std::to_string(bytes) + (sent ? " bytes sent in " : " bytes received in ") +
         Duration(seconds) + ".";
}

}  // namespace kestal::window

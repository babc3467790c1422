#include "cli/progress_text.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace kestal::cli {

std::string FormatRate(double bytesPerSecond) {
  char text[32];
  if (bytesPerSecond < 1024) {
    std::snprintf(text, sizeof text, "%.0f B/s", bytesPerSecond);
  } else if (bytesPerSecond < 1024.0 * 1024.0) {
    std::snprintf(text, sizeof text, "%.1f KB/s", bytesPerSecond / 1024.0);
  } else {
    std::snprintf(text, sizeof text, "%.1f MB/s", bytesPerSecond / (1024.0 * 1024.0));
  }
  return text;
}

std::string FormatDuration(uint64_t seconds) {
  char text[32];
  const auto h = static_cast<unsigned long long>(seconds / 3600);
  const auto m = static_cast<unsigned long long>(seconds / 60 % 60);
  const auto s = static_cast<unsigned long long>(seconds % 60);
  if (h > 0) {
    std::snprintf(text, sizeof text, "%llu:%02llu:%02llu", h, m, s);
  } else {
    std::snprintf(text, sizeof text, "%llu:%02llu", m, s);
  }
  return text;
}

std::string FormatProgressLine(const ProgressFigures& figures, int barWidth) {
  const int percent = std::clamp(figures.percent, 0, 100);
  const int filled = percent * barWidth / 100;
  std::string line = "[" + std::string(static_cast<size_t>(filled), '#') +
                     std::string(static_cast<size_t>(barWidth - filled), '.') + "]";
  char text[64];
  std::snprintf(text, sizeof text, " %3d%%", percent);
  line += text;
  if (figures.bytesTotal > 0) {
    const uint64_t done = std::min(figures.bytesDone, figures.bytesTotal);
    line += "  " + std::to_string(done) + "/" + std::to_string(figures.bytesTotal) + " B";
    if (figures.bytesPerSecond > 0) {
      line += "  " + FormatRate(figures.bytesPerSecond);
      const double left = static_cast<double>(figures.bytesTotal - done) / figures.bytesPerSecond;
      line += "  " + FormatDuration(static_cast<uint64_t>(std::ceil(left))) + " left";
    }
  } else if (figures.bytesDone > 0) {
    line += "  " + std::to_string(figures.bytesDone) + " B";
    if (figures.bytesPerSecond > 0) line += "  " + FormatRate(figures.bytesPerSecond);
  }
  return line;
}

}  // namespace kestal::cli

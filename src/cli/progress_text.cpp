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

std::string FormatProgressFigures(const ProgressFigures& figures) {
  char text[64];
  std::snprintf(text, sizeof text, "%3d%%", std::clamp(figures.percent, 0, 100));
  std::string line = text;
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

std::string FormatProgressLine(const ProgressFigures& figures, int barWidth) {
  const int percent = std::clamp(figures.percent, 0, 100);
  const int filled = percent * barWidth / 100;
  return "[" + std::string(static_cast<size_t>(filled), '#') +
         std::string(static_cast<size_t>(barWidth - filled), '.') + "] " +
         FormatProgressFigures(figures);
}

std::string FitProgressLine(const ProgressFigures& figures, int columns) {
  if (columns <= 0) return FormatProgressLine(figures);
  // The last column stays free: a line that fills it wraps on some terminals.
  const int room = columns - 1;
  const int figuresWidth = static_cast<int>(FormatProgressFigures(figures).size());
  const int barWidth = std::clamp(room - figuresWidth - 3, kMinBarWidth, kMaxBarWidth);
  return FitToWidth(FormatProgressLine(figures, barWidth), columns);
}

std::string FitToWidth(std::string text, int columns) {
  if (columns > 1 && text.size() > static_cast<size_t>(columns - 1)) {
    text.resize(static_cast<size_t>(columns - 1));
  }
  return text;
}

}  // namespace kestal::cli

#pragma once
// The progress bar line shown on a terminal while a transfer runs.
#include <cstdint>
#include <string>

namespace kestal::cli {

struct ProgressFigures {
  int percent = 0;  // the transfer's own figure, 0 to 100
  uint64_t bytesDone = 0;
  uint64_t bytesTotal = 0;    // 0 = not known yet
  double bytesPerSecond = 0;  // 0 = not measured yet
};

// The bar's width on a terminal whose width is unknown, and its bounds when fitted to one.
constexpr int kDefaultBarWidth = 24;
constexpr int kMinBarWidth = 10;
constexpr int kMaxBarWidth = 40;

// " 45%  22528/49152 B  11.2 KB/s  0:02 left": the line printed when the output is no terminal.
// Figures not known yet are left out.
std::string FormatProgressFigures(const ProgressFigures& figures);
// "[#########...........]  45%  22528/49152 B  11.2 KB/s  0:02 left".
std::string FormatProgressLine(const ProgressFigures& figures, int barWidth = kDefaultBarWidth);
// The bar line for a terminal `columns` wide (0: unknown): the bar shrinks first, then the
// line is cut, so it never wraps.
std::string FitProgressLine(const ProgressFigures& figures, int columns);
// `text` cut to fit a terminal `columns` wide (0: unknown, not cut).
std::string FitToWidth(std::string text, int columns);

// "512 B/s", "11.2 KB/s", "1.5 MB/s".
std::string FormatRate(double bytesPerSecond);
// "0:07", "12:34", "1:02:03".
std::string FormatDuration(uint64_t seconds);

}  // namespace kestal::cli

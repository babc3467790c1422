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

// "[#########...........]  45%  22528/49152 B  11.2 KB/s  0:02 left". Figures not known yet are
// left out.
std::string FormatProgressLine(const ProgressFigures& figures, int barWidth = 24);

// "512 B/s", "11.2 KB/s", "1.5 MB/s".
std::string FormatRate(double bytesPerSecond);
// "0:07", "12:34", "1:02:03".
std::string FormatDuration(uint64_t seconds);

}  // namespace kestal::cli

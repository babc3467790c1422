#pragma once
// How fast PackChannelImage packs a file, against zlib alone doing the same compression.
#include <string>

namespace kestal::bench {

struct PackingFigures {
  double packMBps = 0;
  double zlibMBps = 0;
  double imageRatio = 0;  // image size / file size
};

// The fastest of `rounds` for each side, taken in turns so a slow spell of the machine falls
// on both alike.
PackingFigures MeasurePacking(const std::string& path, int rounds);

}  // namespace kestal::bench

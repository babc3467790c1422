#pragma once
// PackChannelImage against zlib's own compress2 + uncompress of the same 32762-byte chunks.
#include <string>

namespace kestal::bench {

struct PackingResult {
  double packMBps = 0;       // PackChannelImage, file to image
  double zlibMBps = 0;       // compress2 + uncompress of each chunk, from memory
  double imageRatio = 0;     // image size / file size
};

// Best of `rounds` for each side; `path` is a file already in the page cache.
PackingResult MeasurePacking(const std::string& path, int rounds);

}  // namespace kestal::bench

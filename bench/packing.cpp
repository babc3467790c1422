#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <vector>

#include "bench/measures.h"
#include "image/file_maker.h"
#include "transfer/file_access.h"
#include "transfer/file_pack_source.h"

namespace kestal::bench {
namespace {

// What the packer cannot avoid: each chunk compressed at the default level, and each chunk
// that came out shorter inflated again, as the packer verifies it.
void ZlibChunks(const std::string& data) {
  std::vector<Bytef> packed(compressBound(IMAGE_CHUNK_MAX)), unpacked(IMAGE_CHUNK_MAX);
  for (size_t at = 0; at < data.size(); at += IMAGE_CHUNK_MAX) {
    const auto chunk = static_cast<uLong>(std::min<size_t>(IMAGE_CHUNK_MAX, data.size() - at));
    auto packedLength = static_cast<uLongf>(packed.size());
    auto unpackedLength = static_cast<uLongf>(unpacked.size());
    compress2(packed.data(), &packedLength, reinterpret_cast<const Bytef*>(data.data() + at), chunk,
              Z_DEFAULT_COMPRESSION);
    if (packedLength < chunk)
      uncompress(unpacked.data(), &unpackedLength, packed.data(), packedLength);
  }
}

}  // namespace

PackingFigures MeasurePacking(const std::string& path, const std::string& data, int rounds) {
  using Seconds = std::chrono::duration<double>;
  Seconds pack = std::chrono::hours(1), zlib = pack;
  uint32_t imageSize = 0;
  std::vector<uint8_t> image;
  for (int round = 0; round < rounds; ++round) {
    const auto start = std::chrono::steady_clock::now();
    SourceFile file;  // opened as a send opens it
    FilePackSource source(file);
    imageSize = file.Open(path) ? PackChannelImage(0x12345678, source, image) : 0;
    const auto packed = std::chrono::steady_clock::now();
    ZlibChunks(data);
    pack = std::min<Seconds>(pack, packed - start);
    zlib = std::min<Seconds>(zlib, std::chrono::steady_clock::now() - packed);
  }
  const double mb = static_cast<double>(data.size()) / 1e6;
  return {mb / pack.count(), mb / zlib.count(),
          static_cast<double>(imageSize) / static_cast<double>(data.size())};
}

}  // namespace kestal::bench

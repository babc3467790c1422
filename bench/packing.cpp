#include "bench/packing.h"

#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <iterator>
#include <vector>

#include "image/file_maker.h"

namespace kestal::bench {
namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point from) {
  return std::chrono::duration<double>(Clock::now() - from).count();
}

// What the packer cannot avoid: each chunk compressed at the default level, and each chunk
// that came out shorter inflated again, as the packer verifies it.
double ZlibSeconds(const std::vector<uint8_t>& data) {
  std::vector<uint8_t> packed(compressBound(IMAGE_CHUNK_MAX));
  std::vector<uint8_t> unpacked(IMAGE_CHUNK_MAX);
  const auto start = Clock::now();
  for (size_t at = 0; at < data.size(); at += IMAGE_CHUNK_MAX) {
    const auto chunk = static_cast<uLong>(std::min<size_t>(IMAGE_CHUNK_MAX, data.size() - at));
    auto packedLength = static_cast<uLongf>(packed.size());
    compress2(packed.data(), &packedLength, data.data() + at, chunk, Z_DEFAULT_COMPRESSION);
    if (packedLength >= chunk) continue;
    auto unpackedLength = static_cast<uLongf>(unpacked.size());
    uncompress(unpacked.data(), &unpackedLength, packed.data(), packedLength);
  }
  return SecondsSince(start);
}

}  // namespace

PackingFigures MeasurePacking(const std::string& path, int rounds) {
  std::ifstream in(path, std::ios::binary);
  const std::vector<uint8_t> data((std::istreambuf_iterator<char>(in)),
                                  std::istreambuf_iterator<char>());
  double bestPack = 1e9, bestZlib = 1e9;
  uint32_t imageSize = 0;
  std::vector<uint8_t> image;
  for (int round = 0; round < rounds; ++round) {
    const auto start = Clock::now();
    imageSize = PackChannelImage(0x12345678, path, image);
    bestPack = std::min(bestPack, SecondsSince(start));
    bestZlib = std::min(bestZlib, ZlibSeconds(data));
  }
  const double mb = static_cast<double>(data.size()) / 1e6;
  return {mb / bestPack, mb / bestZlib,
          static_cast<double>(imageSize) / static_cast<double>(data.size())};
}

}  // namespace kestal::bench

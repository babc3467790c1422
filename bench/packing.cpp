#include "bench/packing.h"

#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <iterator>
#include <vector>

#include "image/file_maker.h"
#include "transfer/transfer_job.h"

namespace kestal::bench {
namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point from) {
  return std::chrono::duration<double>(Clock::now() - from).count();
}

// What the packer cannot avoid: each chunk compressed at the default level, and each
// compressed chunk inflated again to verify it (only those that came out shorter).
double ZlibSeconds(const std::vector<uint8_t>& data) {
  std::vector<uint8_t> packed(compressBound(IMAGE_CHUNK_MAX));
  std::vector<uint8_t> unpacked(IMAGE_CHUNK_MAX);
  const auto start = Clock::now();
  for (size_t at = 0; at < data.size(); at += IMAGE_CHUNK_MAX) {
    const auto chunk = static_cast<uLong>(std::min<size_t>(IMAGE_CHUNK_MAX, data.size() - at));
    uLongf packedLength = static_cast<uLongf>(packed.size());
    compress2(packed.data(), &packedLength, data.data() + at, chunk, Z_DEFAULT_COMPRESSION);
    if (packedLength >= chunk) continue;
    uLongf unpackedLength = static_cast<uLongf>(unpacked.size());
    uncompress(unpacked.data(), &unpackedLength, packed.data(), packedLength);
  }
  return Seconds(start);
}

}  // namespace

PackingResult MeasurePacking(const std::string& path, int rounds) {
  std::ifstream in(path, std::ios::binary);
  const std::vector<uint8_t> data((std::istreambuf_iterator<char>(in)),
                                  std::istreambuf_iterator<char>());
  const double mb = static_cast<double>(data.size()) / 1e6;
  PackingResult result;
  double bestPack = 1e9, bestZlib = 1e9;
  std::vector<uint8_t> image;
  for (int round = 0; round < rounds; ++round) {
    const auto start = Clock::now();
    const uint32_t size = PackChannelImage(0x12345678, path, image, MODE_CHANNELS);
    bestPack = std::min(bestPack, Seconds(start));
    result.imageRatio = static_cast<double>(size) / static_cast<double>(data.size());
    bestZlib = std::min(bestZlib, ZlibSeconds(data));
  }
  result.packMBps = mb / bestPack;
  result.zlibMBps = mb / bestZlib;
  return result;
}

}  // namespace kestal::bench

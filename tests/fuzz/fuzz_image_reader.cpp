// Fuzzes the image inspector on arbitrary bytes, extracting the content. The inspector must
// never read outside the image, never allocate beyond what the image can justify (libFuzzer's
// -malloc_limit_mb and -rss_limit_mb catch that), and report consistently.
// Mutated bytes almost never keep their CRCs right, so each input is inspected twice: as it is,
// and with every CRC the length fields reach recomputed, which carries the fuzzer past the CRC
// checks into the block, chunk and zlib rules.
#include <algorithm>
#include <numeric>

#include "common/byte_order.h"
#include "fuzz/fuzz_input.h"
#include "image/crc16.h"
#include "image/file_maker.h"
#include "image/image_reader.h"

namespace kestal::fuzz {
namespace {

void CheckValidReport(const ImageReport& report, size_t size) {
  Check(report.error.empty(), "a valid image carries an error text");
  Check(report.blockCount == report.blocks.size(), "block count differs from the blocks found");
  const size_t chunkTotal =
      std::accumulate(report.blocks.begin(), report.blocks.end(), size_t{0},
                      [](size_t total, const ImageBlockInfo& b) { return total + b.chunkLength; });
  Check(report.content.size() == chunkTotal, "content size differs from the sum of chunk lengths");
  size_t offset = IMAGE_HEADER_SIZE;
  for (size_t i = 0; i < report.blocks.size(); ++i) {
    const ImageBlockInfo& block = report.blocks[i];
    Check(block.offset == offset, "blocks are not back to back");
    const size_t payload = block.lengthField - (IMAGE_BLOCK_HEAD - 2u);
    Check(block.compressed == (payload < block.chunkLength), "compressed flag disagrees");
    const bool last = i + 1 == report.blocks.size();
    Check(last || block.chunkLength == IMAGE_CHUNK_MAX, "a short chunk before the last block");
    offset += 2u + block.lengthField;
  }
  Check(offset == size, "the blocks do not end where the image ends");
}

void PutCrc(uint8_t* part, size_t size) { PutBE16(part + 2, Crc16(part + 4, size - 4)); }

// The image with the header's CRC and each block's CRC recomputed, block by block as far as
// the length fields stay inside the image.
std::vector<uint8_t> WithRightCrcs(const uint8_t* data, size_t size) {
  std::vector<uint8_t> image(data, data + size);
  if (size < IMAGE_HEADER_SIZE) return image;
  PutCrc(image.data(), IMAGE_HEADER_SIZE);
  for (size_t offset = IMAGE_HEADER_SIZE; size - offset >= IMAGE_BLOCK_HEAD;) {
    const size_t blockSize = 2u + GetBE16(&image[offset]);
    if (blockSize < IMAGE_BLOCK_HEAD || blockSize > size - offset) break;
    PutCrc(&image[offset], blockSize);
    offset += blockSize;
  }
  return image;
}

void InspectAndCheck(const uint8_t* data, size_t size) {
  const ImageReport report = InspectImage(data, size, true);
  if (report.valid) {
    CheckValidReport(report, size);
  } else {
    Check(!report.error.empty(), "an invalid image without an error text");
    Check(report.errorOffset <= size, "the error offset lies past the image");
    Check(report.content.empty(), "an invalid image still hands out content");
  }
  const ImageReport checkOnly = InspectImage(data, size, false);
  Check(checkOnly.valid == report.valid && checkOnly.error == report.error,
        "extracting changes the verdict");
  Check(checkOnly.content.empty(), "content handed out without being asked for");
}

}  // namespace
}  // namespace kestal::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kestal::fuzz;
  InspectAndCheck(data, size);
  const std::vector<uint8_t> repaired = WithRightCrcs(data, size);
  if (!std::equal(repaired.begin(), repaired.end(), data)) {
    InspectAndCheck(repaired.data(), repaired.size());
  }
  return 0;
}

// Fuzzes the image inspector on arbitrary bytes, extracting the content. The inspector must
// never read outside the image, never allocate beyond what the image can justify (libFuzzer's
// -malloc_limit_mb and -rss_limit_mb catch that), and report consistently.
#include <cstdio>
#include <cstdlib>
#include <numeric>

#include "fuzz/fuzz_input.h"
#include "image/file_maker.h"
#include "image/image_reader.h"

namespace kestal::fuzz {
namespace {

void CheckValidReport(const ImageReport& report, size_t size) {
  Check(report.error.empty(), "a valid image carries an error text");
  Check(report.blockCount == report.blocks.size(), "block count differs from the blocks found");
  const size_t chunkTotal = std::accumulate(
      report.blocks.begin(), report.blocks.end(), size_t{0},
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

}  // namespace
}  // namespace kestal::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kestal;
  using namespace kestal::fuzz;
  const ImageReport report = InspectImage(data, size, true);
  if (std::getenv("KESTAL_FUZZ_VERBOSE")) {
    std::fprintf(stderr, "valid %d, %zu content bytes, %s\n", report.valid, report.content.size(),
                 report.error.c_str());
  }
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
  return 0;
}

#include "image/file_maker.h"

#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>
#include <new>

#include "image/crc16.h"
#include "image/image_format.h"

namespace kestal {
namespace {

using namespace image_format;

// The verification failure trace names the packer's source and this fixed line.
constexpr int kVerifyTraceLine = 254;

// Per-call work areas, so that packings on several threads never share memory.
struct PackScratch {
  std::vector<uint8_t> chunk = std::vector<uint8_t>(IMAGE_CHUNK_MAX);
  std::vector<uint8_t> compressed = std::vector<uint8_t>(compressBound(IMAGE_CHUNK_MAX));
  // One byte more than a chunk, so an inflated form that is too long shows as too long.
  std::vector<uint8_t> verification = std::vector<uint8_t>(IMAGE_CHUNK_MAX + 1);
};

enum class Compression { NotShorter, Shorter, VerifyFailed };

// Compresses the chunk into scratch.compressed; the result is usable only when it is shorter
// and inflates back to exactly the chunk.
Compression CompressChunk(PackScratch& scratch, uInt chunkLength, uLongf& payloadLength) {
  payloadLength = static_cast<uLongf>(scratch.compressed.size());
  const int packed = compress2(scratch.compressed.data(), &payloadLength, scratch.chunk.data(),
                               chunkLength, Z_DEFAULT_COMPRESSION);
  if (packed != Z_OK || payloadLength >= chunkLength) return Compression::NotShorter;

  uLongf inflatedLength = static_cast<uLongf>(scratch.verification.size());
  const int unpacked = uncompress(scratch.verification.data(), &inflatedLength,
                                  scratch.compressed.data(), payloadLength);
  const bool identical =
      unpacked == Z_OK && inflatedLength == chunkLength &&
      std::memcmp(scratch.verification.data(), scratch.chunk.data(), chunkLength) == 0;
  return identical ? Compression::Shorter : Compression::VerifyFailed;
}

// Appends one block: head, then the payload; the CRC covers type code, chunk length, payload.
void AppendBlock(std::vector<uint8_t>& image, uint16_t typeCode, uint16_t chunkLength,
                 const uint8_t* payload, uint16_t payloadLength) {
  const size_t start = image.size();
  // The payload is appended, not zero-filled first and then copied over: one pass over it.
  image.resize(start + IMAGE_BLOCK_HEAD);
  image.insert(image.end(), payload, payload + payloadLength);
  uint8_t* block = image.data() + start;
  PutBE16(block + kKindAt, typeCode);
  PutBE16(block + kChunkLengthAt, chunkLength);
  PutBE16(block + kLengthAt, static_cast<uint16_t>(payloadLength + kBlockLengthOverhead));
  PutBE16(block + kCrcAt,
          Crc16(block + kCrcCoverageStart, IMAGE_BLOCK_HEAD - kCrcCoverageStart + payloadLength));
}

// The request value and the header CRC, which covers it.
void WriteRequestValue(uint8_t* header, uint32_t requestValue) {
  PutBE32(header + kRequestValueAt, requestValue);
  PutBE16(header + kCrcAt,
          Crc16(header + kCrcCoverageStart, IMAGE_HEADER_SIZE - kCrcCoverageStart));
}

void EmitVerifyFailure(const PackTrace& trace) {
  if (!trace) return;
  char line[64];
  std::snprintf(line, sizeof line, "%s at line %d\n", "file_maker", kVerifyTraceLine);
  trace(line);
}

// Appends one block per chunk of the list to `image`. False when the list is empty or too large
// for an image, changes length while read, a chunk fails verification, or `step` stops it.
bool BuildImageBlocks(std::vector<uint8_t>& image, PackSource& source, uint16_t typeCode,
                      uint32_t& blockCount, const PackTrace& trace, const PackStep& step) {
  const uint64_t fileSize = source.Size();
  if (fileSize == 0 || MaxImageSize(fileSize) > std::numeric_limits<uint32_t>::max()) {
    return false;
  }
  image.reserve(static_cast<size_t>(MaxImageSize(fileSize)));

  PackScratch scratch;
  for (uint64_t remaining = fileSize; remaining > 0;) {
    if (trace) trace(".");
    const auto chunkLength = static_cast<uint16_t>(std::min<uint64_t>(remaining, IMAGE_CHUNK_MAX));
    remaining -= chunkLength;
    if (!source.Read(scratch.chunk.data(), chunkLength)) return false;

    uLongf compressedLength = 0;
    switch (CompressChunk(scratch, chunkLength, compressedLength)) {
      case Compression::Shorter:
        AppendBlock(image, typeCode, chunkLength, scratch.compressed.data(),
                    static_cast<uint16_t>(compressedLength));
        break;
      case Compression::NotShorter:
        AppendBlock(image, typeCode, chunkLength, scratch.chunk.data(), chunkLength);
        break;
      case Compression::VerifyFailed:
        EmitVerifyFailure(trace);
        return false;
    }
    ++blockCount;
    if (step && !step(fileSize - remaining, fileSize)) return false;
  }
  return source.AtEnd();
}

// The reserved bytes 14 to 127 are always zero, so an image depends only on the file and the
// request value.
void WriteImageHeader(uint8_t* header, uint32_t requestValue, uint32_t blockCount) {
  std::fill(header, header + IMAGE_HEADER_SIZE, uint8_t{0});
  PutBE16(header + kLengthAt, kHeaderLengthField);
  PutBE16(header + kKindAt, static_cast<uint16_t>(IMAGE_HEADER_KIND));
  PutBE32(header + kBlockCountAt, blockCount);
  WriteRequestValue(header, requestValue);
}

}  // namespace

uint64_t MaxImageSize(uint64_t fileSize) {
  const uint64_t blocks = (fileSize + IMAGE_CHUNK_MAX - 1) / IMAGE_CHUNK_MAX;
  return IMAGE_HEADER_SIZE + fileSize + IMAGE_BLOCK_HEAD * blocks;
}

uint32_t PackChannelImage(uint32_t requestValue, PackSource& source, std::vector<uint8_t>& image,
                          const PackTrace& trace, const PackStep& step) {
  image.clear();

  uint32_t blockCount = 0;
  bool built = false;
  try {
    image.resize(IMAGE_HEADER_SIZE);  // header space; written once the block count is known
    built = BuildImageBlocks(image, source, DATA_TYPE_CHANNELS, blockCount, trace, step);
  } catch (const std::bad_alloc&) {
    built = false;  // a file too large for this machine's memory is a packaging failure
  }
  if (!built) {
    image.clear();
    return 0;
  }
  WriteImageHeader(image.data(), requestValue, blockCount);
  return static_cast<uint32_t>(image.size());
}

void SetImageRequestValue(std::vector<uint8_t>& image, uint32_t requestValue) {
  if (image.size() >= IMAGE_HEADER_SIZE) WriteRequestValue(image.data(), requestValue);
}

}  // namespace kestal

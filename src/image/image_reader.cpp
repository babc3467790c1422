#include "image/image_reader.h"

#include <zlib.h>

#include <limits>

#include "image/crc16.h"
#include "image/image_format.h"

namespace kestal {
namespace {

using namespace image_format;

// Walks an image front to back and stops at the first fault. Every length field is checked
// against the bytes that are really there before it is used, and a payload inflates only into
// a buffer of its declared chunk length, so hostile input costs no more than its own size.
class ImageParser {
 public:
  ImageParser(const uint8_t* data, size_t size, const ChunkSink& sink, ImageReport& report)
      : data_(data), size_(size), sink_(sink), report_(report) {}

  bool Run() {
    if (size_ > std::numeric_limits<uint32_t>::max()) {
      return Fail(std::numeric_limits<uint32_t>::max(), "image is longer than a 32-bit size");
    }
    if (!CheckHeader()) return false;
    size_t offset = IMAGE_HEADER_SIZE;
    for (uint32_t index = 0; index < report_.blockCount; ++index) {
      if (!CheckBlock(index, offset)) return false;
    }
    if (offset != size_) {
      return Fail(offset, std::to_string(size_ - offset) + " trailing bytes after the last block");
    }
    return true;
  }

 private:
  bool Fail(size_t offset, const std::string& what) {
    report_.error = what + " at offset " + std::to_string(offset);
    report_.errorOffset = offset;
    return false;
  }

  bool CheckHeader() {
    if (size_ < IMAGE_HEADER_SIZE) {
      return Fail(size_, "image of " + std::to_string(size_) + " bytes ends inside the header");
    }
    const uint16_t lengthField = GetBE16(data_ + kLengthAt);
    if (lengthField != kHeaderLengthField) {
      return Fail(kLengthAt, "header length field " + std::to_string(lengthField) + " is not 126");
    }
    const uint16_t crc = GetBE16(data_ + kCrcAt);
    if (crc != Crc16(data_ + kCrcCoverageStart, IMAGE_HEADER_SIZE - kCrcCoverageStart)) {
      return Fail(kCrcAt, "header CRC mismatch");
    }
    const uint16_t kind = GetBE16(data_ + kKindAt);
    if (kind != IMAGE_HEADER_KIND) {
      return Fail(kKindAt, "header kind " + std::to_string(kind) + " is not 16");
    }
    report_.requestValue = GetBE32(data_ + kRequestValueAt);
    report_.blockCount = GetBE32(data_ + kBlockCountAt);
    if (report_.blockCount == 0) return Fail(kBlockCountAt, "header block count is 0");
    return true;
  }

  bool CheckBlock(uint32_t index, size_t& offset) {
    const std::string name = "block " + std::to_string(index);
    const size_t left = size_ - offset;
    if (left == 0) {
      return Fail(offset, "image ends after " + std::to_string(index) + " of " +
                              std::to_string(report_.blockCount) + " blocks");
    }
    if (left < IMAGE_BLOCK_HEAD) return Fail(offset, name + " head is cut short");

    const uint8_t* block = data_ + offset;
    ImageBlockInfo info;
    info.offset = static_cast<uint32_t>(offset);
    info.lengthField = GetBE16(block + kLengthAt);
    if (info.lengthField < kBlockLengthOverhead) {
      return Fail(offset,
                  name + " length field " + std::to_string(info.lengthField) + " is below 6");
    }
    const size_t blockSize = size_t{2} + info.lengthField;
    if (blockSize > left) {
      return Fail(offset, name + " length field " + std::to_string(info.lengthField) +
                              " runs past the end of the image");
    }
    info.crc = GetBE16(block + kCrcAt);
    if (info.crc != Crc16(block + kCrcCoverageStart, blockSize - kCrcCoverageStart)) {
      return Fail(offset + kCrcAt, name + " CRC mismatch");
    }
    info.typeCode = GetBE16(block + kKindAt);
    if (info.typeCode != DATA_TYPE_CHANNELS) {
      return Fail(offset + kKindAt,
                  name + " type code " + std::to_string(info.typeCode) + " is not 2");
    }
    info.chunkLength = GetBE16(block + kChunkLengthAt);
    if (!CheckChunkLength(index, name, info.chunkLength, offset + kChunkLengthAt)) return false;

    const size_t payloadLength = info.lengthField - kBlockLengthOverhead;
    info.compressed = payloadLength < info.chunkLength;
    if (!CheckPayload(name, block + kPayloadAt, payloadLength, info.chunkLength,
                      offset + kPayloadAt)) {
      return false;
    }
    report_.blocks.push_back(info);
    offset += blockSize;
    return true;
  }

  bool CheckChunkLength(uint32_t index, const std::string& name, uint16_t chunkLength, size_t at) {
    if (chunkLength == 0 || chunkLength > IMAGE_CHUNK_MAX) {
      return Fail(at,
                  name + " chunk length " + std::to_string(chunkLength) + " is outside 1 to 32762");
    }
    const bool last = index + 1 == report_.blockCount;
    if (!last && chunkLength != IMAGE_CHUNK_MAX) {
      return Fail(at, name + " holds " + std::to_string(chunkLength) +
                          " bytes but only the last block may hold fewer than 32762");
    }
    return true;
  }

  bool CheckPayload(const std::string& name, const uint8_t* payload, size_t payloadLength,
                    uint16_t chunkLength, size_t at) {
    if (payloadLength > chunkLength) {
      return Fail(at, name + " payload of " + std::to_string(payloadLength) +
                          " bytes is longer than its " + std::to_string(chunkLength) +
                          "-byte chunk");
    }
    if (payloadLength == chunkLength) {  // stored as in the file
      if (sink_) sink_(payload, chunkLength);
      return true;
    }
    chunk_.resize(chunkLength);
    uLongf inflatedLength = chunkLength;
    uLong consumed = static_cast<uLong>(payloadLength);
    const int result = uncompress2(chunk_.data(), &inflatedLength, payload, &consumed);
    if (result != Z_OK || inflatedLength != chunkLength || consumed != payloadLength) {
      return Fail(at, name + " payload does not inflate to exactly its " +
                          std::to_string(chunkLength) + "-byte chunk");
    }
    if (sink_) sink_(chunk_.data(), chunk_.size());
    return true;
  }

  const uint8_t* data_;
  size_t size_;
  const ChunkSink& sink_;
  ImageReport& report_;
  std::vector<uint8_t> chunk_;  // one inflated chunk, at most 32762 bytes
};

}  // namespace

ImageReport InspectImage(const uint8_t* data, size_t size, bool extract) {
  ImageReport report;
  ChunkSink keep;
  if (extract) {
    keep = [&report](const uint8_t* chunk, size_t length) {
      report.content.insert(report.content.end(), chunk, chunk + length);
    };
  }
  report.valid = ImageParser(data, size, keep, report).Run();
  if (!report.valid) report.content.clear();
  return report;
}

ImageReport InspectImage(const uint8_t* data, size_t size, const ChunkSink& sink) {
  ImageReport report;
  report.valid = ImageParser(data, size, sink, report).Run();
  return report;
}

}  // namespace kestal

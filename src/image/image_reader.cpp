#include "image/image_reader.h"

#include <zlib.h>

#include <limits>

#include "image/crc16.h"
#include "image/image_format.h"
#include "link/frame_codec.h"

namespace kestal {
namespace {

using namespace image_format;

// Walks an image front to back and stops at the first fault. Every length field is checked
// against the bytes that are really there before it is used, and a payload inflates only into
// a buffer of its declared chunk length, so hostile input costs no more than its own size.
class ImageParser {
 public:
  ImageParser(const uint8_t* data, size_t size, const ChunkSink& sink, ImageReport& report)
      : m_data(data), m_size(size), m_sink(sink), m_report(report) {}

  bool Run() {
    if (m_size > std::numeric_limits<uint32_t>::max()) {
      return Fail(std::numeric_limits<uint32_t>::max(), "image is longer than a 32-bit size");
    }
    if (!CheckHeader()) return false;
    size_t offset = IMAGE_HEADER_SIZE;
    for (uint32_t index = 0; index < m_report.blockCount; ++index) {
      if (!CheckBlock(index, offset)) return false;
    }
    if (offset != m_size) {
      return Fail(offset, std::to_string(m_size - offset) + " trailing bytes after the last block");
    }
    return true;
  }

 private:
  bool Fail(size_t offset, const std::string& what) {
    m_report.error = what + " at offset " + std::to_string(offset);
    m_report.errorOffset = offset;
    return false;
  }

  bool CheckHeader() {
    if (m_size < IMAGE_HEADER_SIZE) {
      return Fail(m_size, "image of " + std::to_string(m_size) + " bytes ends inside the header");
    }
    const uint16_t lengthField = ReadBE16(m_data + kLengthAt);
    if (lengthField != kHeaderLengthField) {
      return Fail(kLengthAt, "header length field " + std::to_string(lengthField) + " is not 126");
    }
    const uint16_t crc = ReadBE16(m_data + kCrcAt);
    if (crc != Crc16(m_data + kCrcCoverageStart, IMAGE_HEADER_SIZE - kCrcCoverageStart)) {
      return Fail(kCrcAt, "header CRC mismatch");
    }
    const uint16_t kind = ReadBE16(m_data + kKindAt);
    if (kind != IMAGE_HEADER_KIND) {
      return Fail(kKindAt, "header kind " + std::to_string(kind) + " is not 16");
    }
    m_report.requestValue = ReadBE32(m_data + kRequestValueAt);
    m_report.blockCount = ReadBE32(m_data + kBlockCountAt);
    if (m_report.blockCount == 0) return Fail(kBlockCountAt, "header block count is 0");
    return true;
  }

  bool CheckBlock(uint32_t index, size_t& offset) {
    const std::string name = "block " + std::to_string(index);
    const size_t left = m_size - offset;
    if (left == 0) {
      return Fail(offset, "image ends after " + std::to_string(index) + " of " +
                              std::to_string(m_report.blockCount) + " blocks");
    }
    if (left < IMAGE_BLOCK_HEAD) return Fail(offset, name + " head is cut short");

    const uint8_t* block = m_data + offset;
    ImageBlockInfo info;
    info.offset = static_cast<uint32_t>(offset);
    info.lengthField = ReadBE16(block + kLengthAt);
    if (info.lengthField < kBlockLengthOverhead) {
      return Fail(offset, name + " length field " + std::to_string(info.lengthField) +
                              " is below 6");
    }
    const size_t blockSize = size_t{2} + info.lengthField;
    if (blockSize > left) {
      return Fail(offset, name + " length field " + std::to_string(info.lengthField) +
                              " runs past the end of the image");
    }
    info.crc = ReadBE16(block + kCrcAt);
    if (info.crc != Crc16(block + kCrcCoverageStart, blockSize - kCrcCoverageStart)) {
      return Fail(offset + kCrcAt, name + " CRC mismatch");
    }
    info.typeCode = ReadBE16(block + kKindAt);
    if (info.typeCode != DATA_TYPE_CHANNELS) {
      return Fail(offset + kKindAt,
                  name + " type code " + std::to_string(info.typeCode) + " is not 2");
    }
    info.chunkLength = ReadBE16(block + kChunkLengthAt);
    if (!CheckChunkLength(index, name, info.chunkLength, offset + kChunkLengthAt)) return false;

    const size_t payloadLength = info.lengthField - kBlockLengthOverhead;
    info.compressed = payloadLength < info.chunkLength;
    if (!CheckPayload(name, block + kPayloadAt, payloadLength, info.chunkLength,
                      offset + kPayloadAt)) {
      return false;
    }
    m_report.blocks.push_back(info);
    offset += blockSize;
    return true;
  }

  bool CheckChunkLength(uint32_t index, const std::string& name, uint16_t chunkLength,
                        size_t at) {
    if (chunkLength == 0 || chunkLength > IMAGE_CHUNK_MAX) {
      return Fail(at, name + " chunk length " + std::to_string(chunkLength) +
                          " is outside 1 to 32762");
    }
    const bool last = index + 1 == m_report.blockCount;
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
      if (m_sink) m_sink(payload, chunkLength);
      return true;
    }
    m_chunk.resize(chunkLength);
    uLongf inflatedLength = chunkLength;
    uLong consumed = static_cast<uLong>(payloadLength);
    const int result = uncompress2(m_chunk.data(), &inflatedLength, payload, &consumed);
    if (result != Z_OK || inflatedLength != chunkLength || consumed != payloadLength) {
      return Fail(at, name + " payload does not inflate to exactly its " +
                          std::to_string(chunkLength) + "-byte chunk");
    }
    if (m_sink) m_sink(m_chunk.data(), m_chunk.size());
    return true;
  }

  const uint8_t* m_data;
  size_t m_size;
  const ChunkSink& m_sink;
  ImageReport& m_report;
  std::vector<uint8_t> m_chunk;  // one inflated chunk, at most 32762 bytes
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

#pragma once
// Field positions of a ChannelImage, shared by the packer and the reader. The header and every
// block share one layout: a length field counting the bytes after it, a CRC over everything
// after the CRC field, then a 16-bit kind (header) or type code (block). All numbers big-endian.
#include <cstdint>

#include "image/file_maker.h"

namespace kestal::image_format {

constexpr uint32_t kLengthAt = 0;
constexpr uint32_t kCrcAt = 2;
constexpr uint32_t kKindAt = 4;  // header kind, or block type code
constexpr uint32_t kCrcCoverageStart = 4;

// Header fields.
constexpr uint32_t kRequestValueAt = 6;
constexpr uint32_t kBlockCountAt = 10;
constexpr uint16_t kHeaderLengthField = IMAGE_HEADER_SIZE - 2;  // 126

// Block fields.
constexpr uint32_t kChunkLengthAt = 6;
constexpr uint32_t kPayloadAt = IMAGE_BLOCK_HEAD;
constexpr uint32_t kBlockLengthOverhead = IMAGE_BLOCK_HEAD - 2;  // length field = payload + 6

// Big-endian access, kept local so the image code has no link-time tie to the frame codec.
inline uint16_t ReadBE16(const uint8_t* p) {
  return static_cast<uint16_t>((p[0] << 8) | p[1]);
}
inline uint32_t ReadBE32(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}
inline void WriteBE16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v >> 8);
  p[1] = static_cast<uint8_t>(v);
}
inline void WriteBE32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 24);
  p[1] = static_cast<uint8_t>(v >> 16);
  p[2] = static_cast<uint8_t>(v >> 8);
  p[3] = static_cast<uint8_t>(v);
}

}  // namespace kestal::image_format

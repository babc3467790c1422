#pragma once
// Field positions of a ChannelImage, shared by the packer and the reader. The header and every
// block share one layout: a length field counting the bytes after it, a CRC over everything
// after the CRC field, then a 16-bit kind (header) or type code (block). All numbers big-endian.
#include <cstdint>

#include "common/byte_order.h"
#include "common/data_types.h"
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

}  // namespace kestal::image_format

#pragma once
// Validates a ChannelImage and recovers the channel list it holds. Never trusts a length field:
// every read is bounded by the image, and memory use is bounded by the image's size.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace kestal {

struct ImageBlockInfo {
  uint32_t offset = 0;       // of the block in the image
  uint16_t lengthField = 0;  // bytes after the length field (payload + 6)
  uint16_t crc = 0;
  uint16_t typeCode = 0;
  uint16_t chunkLength = 0;
  bool compressed = false;
};

struct ImageReport {
  bool valid = false;
  std::string error;       // first fault, empty when valid
  size_t errorOffset = 0;  // image offset of that fault
  uint32_t requestValue = 0;
  uint32_t blockCount = 0;
  std::vector<ImageBlockInfo> blocks;
  std::vector<uint8_t> content;  // the unpacked channel list, when asked for
};

// With `extract`, the unpacked channel list is collected in report.content.
ImageReport InspectImage(const uint8_t* data, size_t size, bool extract);

// Hands each unpacked chunk to `sink` as it is checked, in order, instead of collecting them,
// so memory stays bounded by one chunk. A chunk may reach the sink before a later fault.
using ChunkSink = std::function<void(const uint8_t* chunk, size_t length)>;
ImageReport InspectImage(const uint8_t* data, size_t size, const ChunkSink& sink);

}  // namespace kestal

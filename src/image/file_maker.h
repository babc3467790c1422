#pragma once
// Packs a channel-list file into a ChannelImage: a 128-byte header, then one block per chunk of
// at most 32762 file bytes, each zlib-compressed when that is shorter, each with a CRC-16.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace kestal {

constexpr uint32_t IMAGE_HEADER_SIZE = 128;
constexpr uint32_t IMAGE_HEADER_KIND = 16;
constexpr uint32_t IMAGE_CHUNK_MAX = 32762;
constexpr uint32_t IMAGE_BLOCK_HEAD = 8;

// Progress trace: "." per block, and the verification failure line. Empty: no trace.
using PackTrace = std::function<void(const std::string&)>;

// The largest image a file of `fileSize` bytes can give (no chunk compresses).
uint64_t MaxImageSize(uint64_t fileSize);

// Packs `path` into `image`, which is resized to the image. Returns the image size, or 0 when
// the file cannot be opened, is empty, changes size while it is read, or a chunk fails its
// verification. Keeps no state between calls.
uint32_t PackChannelImage(uint32_t requestValue, const std::string& path,
                          std::vector<uint8_t>& image, const PackTrace& trace = {});

}  // namespace kestal

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

// Called after each chunk with the file bytes packed so far; false stops the packing, which
// then gives 0. Empty: packs to the end.
using PackStep = std::function<bool(uint64_t bytesPacked, uint64_t bytesTotal)>;

// A channel list to pack, opened by the caller.
class PackSource {
 public:
  virtual ~PackSource() = default;
  // The list's length, as measured when it was opened.
  virtual uint64_t Size() const = 0;
  // The next `count` bytes; false when they are not all there (the list shrank, a read failed).
  virtual bool Read(uint8_t* destination, size_t count) = 0;
  // True when nothing follows the bytes read so far (the list did not grow).
  virtual bool AtEnd() = 0;
};

// The largest image a file of `fileSize` bytes can give (no chunk compresses).
uint64_t MaxImageSize(uint64_t fileSize);

// Packs the list into `image`, which is resized to the image. Returns the image size, or 0 when
// the list is empty, changes size while it is read, a chunk fails its verification or `step`
// stops it. Keeps no state between calls.
uint32_t PackChannelImage(uint32_t requestValue, PackSource& source, std::vector<uint8_t>& image,
                          const PackTrace& trace = {}, const PackStep& step = {});

// Puts another request value into a packed image's header and renews the header's CRC; every
// other byte stays as packed.
void SetImageRequestValue(std::vector<uint8_t>& image, uint32_t requestValue);

}  // namespace kestal

// Packing a channel list and reading the image back must give the file again, whatever the
// chunk edges and however well each chunk compresses.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <optional>

#include "common/byte_order.h"
#include "image/crc16.h"
#include "image/file_maker.h"
#include "image/image_reader.h"
#include "support/scratch_dir.h"

namespace kestal {
namespace {

using Bytes = std::vector<uint8_t>;

// A channel list in memory. `measured`, when given, is the size it was measured at: a list that
// has grown or shrunk since.
class ListSource : public PackSource {
 public:
  explicit ListSource(Bytes bytes, std::optional<uint64_t> measured = {})
      : bytes_(std::move(bytes)), measured_(measured.value_or(bytes_.size())) {}
  uint64_t Size() const override { return measured_; }
  bool Read(uint8_t* destination, size_t count) override {
    if (at_ + count > bytes_.size()) return false;
    std::memcpy(destination, bytes_.data() + at_, count);
    at_ += count;
    return true;
  }
  bool AtEnd() override { return at_ == bytes_.size(); }

 private:
  Bytes bytes_;
  uint64_t measured_;
  size_t at_ = 0;
};

uint32_t Pack(uint32_t requestValue, const Bytes& content, Bytes& image) {
  ListSource source(content);
  return PackChannelImage(requestValue, source, image);
}

// Text that compresses, then bytes that do not (a linear congruential sequence).
Bytes Mixed(size_t size) {
  Bytes bytes(size);
  uint32_t state = 12345;
  for (size_t i = 0; i < size; ++i) {
    state = state * 1103515245u + 12345u;
    bytes[i] = (i / 20000) % 2 == 0 ? static_cast<uint8_t>("CH 101 News\n"[i % 12])
                                    : static_cast<uint8_t>(state >> 24);
  }
  return bytes;
}

TEST(ImageTest, PackThenReadGivesTheFileBack) {
  for (const auto& [size, blocks] : {std::pair{1, 1}, {32762, 1}, {32763, 2}, {100000, 4}}) {
    const Bytes content = Mixed(size);
    Bytes image;
    const uint32_t packed = Pack(0xC0FFEE, content, image);
    ASSERT_EQ(packed, image.size()) << size;
    const ImageReport report = InspectImage(image.data(), image.size(), true);
    ASSERT_TRUE(report.valid) << size << ": " << report.error;
    EXPECT_EQ(report.requestValue, 0xC0FFEEu);
    EXPECT_EQ(report.blockCount, static_cast<uint32_t>(blocks)) << size;
    EXPECT_EQ(report.content, content) << size;
  }
}

// The layout spelled out by hand, not from the packer's constants: chunks of 32762 bytes, each
// block's head, CRC and payload at fixed offsets. Content that does not compress is stored as
// it is; a compressed payload is checked by inflating it (its bytes depend on the zlib build).
TEST(ImageTest, ChunksAreCutEvery32762Bytes) {
  const Bytes stored = testing::TestBytes(65525, 9);  // 2 x 32762 + 1
  Bytes image;
  ASSERT_EQ(Pack(5, stored, image), 65677u);  // 128 + 2 x 32770 + 9
  EXPECT_EQ(GetBE32(&image[10]), 3u);
  for (const auto& [at, from, chunk] :
       {std::tuple{128, 0, 32762}, {32898, 32762, 32762}, {65668, 65524, 1}}) {
    EXPECT_EQ(GetBE16(&image[at]), chunk + 6) << at;
    EXPECT_EQ(GetBE16(&image[at + 2]), Crc16(&image[at + 4], chunk + 4)) << at;
    EXPECT_EQ(GetBE16(&image[at + 4]), 2) << at;
    EXPECT_EQ(GetBE16(&image[at + 6]), chunk) << at;
    EXPECT_TRUE(std::equal(&image[at + 8], &image[at + 8 + chunk], &stored[from])) << at;
  }
  const Bytes text = Mixed(32763);  // compresses: one shorter block, then the last byte stored
  ASSERT_GT(Pack(5, text, image), 0u);
  const uint16_t payload = GetBE16(&image[128]) - 6;
  EXPECT_EQ(GetBE16(&image[134]), 32762);
  Bytes inflated(40000);
  uLongf inflatedLength = inflated.size();
  ASSERT_EQ(uncompress(inflated.data(), &inflatedLength, &image[136], payload), Z_OK);
  EXPECT_TRUE(inflatedLength == 32762 && std::equal(&text[0], &text[32762], inflated.data()));
  Bytes last = {0, 7, 0, 0, 0, 2, 0, 1, text.back()};
  PutBE16(&last[2], Crc16(&last[4], 5));
  EXPECT_EQ(Bytes(image.begin() + 136 + payload, image.end()), last);
}

TEST(ImageTest, ACompressibleChunkIsStoredShorter) {
  Bytes image;
  Pack(1, Bytes(IMAGE_CHUNK_MAX, 'A'), image);
  const ImageReport report = InspectImage(image.data(), image.size(), false);
  ASSERT_EQ(report.blocks.size(), 1u);
  EXPECT_TRUE(report.blocks[0].compressed);
  EXPECT_LT(image.size(), 1000u);
}

TEST(ImageTest, NothingIsPackedFromAnEmptyOrChangingList) {
  Bytes image;
  EXPECT_EQ(Pack(1, {}, image), 0u);
  // Measured at three chunks, the list has grown by a byte, or shrunk by one.
  for (const size_t now : {3 * IMAGE_CHUNK_MAX + 1, 3 * IMAGE_CHUNK_MAX - 1}) {
    ListSource source(Mixed(now), 3 * IMAGE_CHUNK_MAX);
    EXPECT_EQ(PackChannelImage(1, source, image), 0u) << now;
    EXPECT_TRUE(image.empty());
  }
}

TEST(Crc16, MatchesTheArcCheckValue) {
  const std::string check = "123456789";
  EXPECT_EQ(Crc16(reinterpret_cast<const uint8_t*>(check.data()), check.size()), 0xBB3D);
}

}  // namespace
}  // namespace kestal

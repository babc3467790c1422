#include "image/image_reader.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <zlib.h>

#include <optional>
#include <random>

#include "image/crc16.h"
#include "image/file_maker.h"
#include "image/scratch_files.h"
#include "transfer/transfer_job.h"

namespace kestal {
namespace {

using testing::Concat;
using testing::RandomBytes;
using testing::RepetitiveBytes;
using ::testing::HasSubstr;

void Put16(std::vector<uint8_t>& v, size_t at, uint32_t value) {
  v.at(at) = static_cast<uint8_t>(value >> 8);
  v.at(at + 1) = static_cast<uint8_t>(value);
}
void Put32(std::vector<uint8_t>& v, size_t at, uint32_t value) {
  Put16(v, at, value >> 16);
  Put16(v, at + 2, value & 0xFFFF);
}

// Hand-made images, so every field can be set to what a hostile sender would put there while
// the CRCs still match and the deeper checks are reached.
struct RawBlock {
  uint16_t typeCode = 2;
  uint16_t chunkLength = 0;
  std::vector<uint8_t> payload;
};

RawBlock StoredBlock(const std::vector<uint8_t>& chunk) {
  return {2, static_cast<uint16_t>(chunk.size()), chunk};
}

RawBlock CompressedBlock(const std::vector<uint8_t>& chunk) {
  std::vector<uint8_t> out(compressBound(chunk.size()));
  uLongf length = out.size();
  compress2(out.data(), &length, chunk.data(), chunk.size(), Z_DEFAULT_COMPRESSION);
  out.resize(length);
  return {2, static_cast<uint16_t>(chunk.size()), out};
}

void FixCrc(std::vector<uint8_t>& image, size_t at, size_t coveredBytes) {
  Put16(image, at + 2, Crc16(image.data() + at + 4, coveredBytes));
}

std::vector<uint8_t> MakeImage(const std::vector<RawBlock>& blocks,
                               std::optional<uint32_t> headerCount = std::nullopt) {
  std::vector<uint8_t> image(IMAGE_HEADER_SIZE, 0);
  Put16(image, 0, 126);
  Put16(image, 4, 16);
  Put32(image, 6, 0x01020304);
  Put32(image, 10, headerCount.value_or(static_cast<uint32_t>(blocks.size())));
  FixCrc(image, 0, 124);
  for (const auto& b : blocks) {
    const size_t at = image.size();
    image.resize(at + 8);
    Put16(image, at, static_cast<uint32_t>(b.payload.size() + 6));
    Put16(image, at + 4, b.typeCode);
    Put16(image, at + 6, b.chunkLength);
    image.insert(image.end(), b.payload.begin(), b.payload.end());
    FixCrc(image, at, b.payload.size() + 4);
  }
  return image;
}

ImageReport Inspect(const std::vector<uint8_t>& image, bool extract = false) {
  return InspectImage(image.data(), image.size(), extract);
}

class PackedImages : public ::testing::Test {
 protected:
  std::vector<uint8_t> Pack(const std::vector<uint8_t>& content, uint32_t requestValue = 0) {
    std::vector<uint8_t> image;
    EXPECT_NE(PackChannelImage(requestValue, dir.Write("list.fdu", content), image, MODE_CHANNELS), 0u);
    return image;
  }

  // Small but multi-block: two compressed full chunks and a stored short one.
  std::vector<uint8_t> SmallMultiBlockImage() {
    return Pack(Concat(Concat(std::vector<uint8_t>(IMAGE_CHUNK_MAX, 0), RepetitiveBytes(IMAGE_CHUNK_MAX)),
                       RandomBytes(40, 21)));
  }

  testing::ScratchDir dir;
};

TEST_F(PackedImages, ImagesOfManySizesAreValidAndGiveBackTheFile) {
  for (size_t n : {1u, 2u, 100u, 32761u, 32762u, 32763u, 65524u, 65525u, 100000u, 300000u}) {
    for (const auto& content : {RandomBytes(n, static_cast<uint32_t>(n)), RepetitiveBytes(n)}) {
      const auto image = Pack(content, 0xDEADBEEF);
      const auto report = Inspect(image, true);
      ASSERT_TRUE(report.valid) << n << ": " << report.error;
      EXPECT_EQ(report.error, "");
      EXPECT_EQ(report.requestValue, 0xDEADBEEFu);
      EXPECT_EQ(report.blockCount, (n + IMAGE_CHUNK_MAX - 1) / IMAGE_CHUNK_MAX);
      ASSERT_EQ(report.blocks.size(), report.blockCount);
      EXPECT_EQ(report.blocks[0].offset, IMAGE_HEADER_SIZE);
      EXPECT_EQ(report.content, content) << n;
    }
  }
}

TEST_F(PackedImages, BlocksAreDescribedAndStreamedToTheSinkInOrder) {
  const auto content = Concat(Concat(std::vector<uint8_t>(IMAGE_CHUNK_MAX, 0), RepetitiveBytes(IMAGE_CHUNK_MAX)),
                              RandomBytes(40, 21));
  const auto image = Pack(content);
  std::vector<size_t> lengths;
  std::vector<uint8_t> streamed;
  const auto report = InspectImage(image.data(), image.size(), [&](const uint8_t* chunk, size_t length) {
    lengths.push_back(length);
    streamed.insert(streamed.end(), chunk, chunk + length);
  });
  ASSERT_TRUE(report.valid) << report.error;
  EXPECT_EQ(lengths, (std::vector<size_t>{IMAGE_CHUNK_MAX, IMAGE_CHUNK_MAX, 40}));
  EXPECT_EQ(streamed, content);
  EXPECT_TRUE(report.content.empty());  // streamed, not collected

  ASSERT_EQ(report.blocks.size(), 3u);
  EXPECT_TRUE(report.blocks[0].compressed);
  EXPECT_TRUE(report.blocks[1].compressed);
  EXPECT_FALSE(report.blocks[2].compressed);
  EXPECT_EQ(report.blocks[2].chunkLength, 40);
  EXPECT_EQ(report.blocks[2].lengthField, 46);
  for (size_t i = 0; i + 1 < report.blocks.size(); ++i) {
    EXPECT_EQ(report.blocks[i + 1].offset, report.blocks[i].offset + 2 + report.blocks[i].lengthField);
  }
}

TEST_F(PackedImages, EveryTruncationIsInvalid) {
  const auto image = SmallMultiBlockImage();
  for (size_t length = 0; length < image.size(); ++length) {
    const std::vector<uint8_t> cut(image.begin(), image.begin() + static_cast<ptrdiff_t>(length));
    const auto report = Inspect(cut, true);
    EXPECT_FALSE(report.valid) << "length " << length;
    EXPECT_FALSE(report.error.empty());
    EXPECT_LE(report.errorOffset, length);
    EXPECT_TRUE(report.content.empty());
  }
}

TEST_F(PackedImages, EverySingleBitFlipInASmallImageIsCaught) {
  const auto image = SmallMultiBlockImage();
  for (size_t bit = 0; bit < image.size() * 8; ++bit) {
    auto flipped = image;
    flipped[bit / 8] ^= static_cast<uint8_t>(1U << (bit % 8));
    const auto report = Inspect(flipped, true);
    EXPECT_FALSE(report.valid) << "bit " << bit;
    EXPECT_TRUE(report.content.empty());
  }
}

TEST_F(PackedImages, SampledBitFlipsInALargeImageAreCaught) {
  const auto image = Pack(Concat(RandomBytes(100000, 31), RepetitiveBytes(100000)));
  std::mt19937 pick(33);
  for (int sample = 0; sample < 400; ++sample) {
    const size_t bit = pick() % (image.size() * 8);
    auto flipped = image;
    flipped[bit / 8] ^= static_cast<uint8_t>(1U << (bit % 8));
    EXPECT_FALSE(Inspect(flipped).valid) << "bit " << bit;
  }
}

TEST_F(PackedImages, TrailingBytesAreAFault) {
  auto image = SmallMultiBlockImage();
  const size_t end = image.size();
  image.push_back(0);
  const auto report = Inspect(image);
  EXPECT_FALSE(report.valid);
  EXPECT_EQ(report.errorOffset, end);
  EXPECT_THAT(report.error, HasSubstr("trailing"));
}

// Damage behind a recomputed CRC reaches the chunk checks and zlib itself with hostile streams.
TEST_F(PackedImages, DamagedPayloadsBehindValidCrcsAreRejectedOrExact) {
  const auto image = SmallMultiBlockImage();
  const auto blocks = Inspect(image).blocks;
  std::mt19937 pick(41);
  for (int round = 0; round < 600; ++round) {
    auto damaged = image;
    const auto& block = blocks[pick() % blocks.size()];
    const size_t end = block.offset + 2 + block.lengthField;
    for (int hits = 1 + static_cast<int>(pick() % 4); hits > 0; --hits) {
      damaged[block.offset + 4 + pick() % (end - block.offset - 4)] = static_cast<uint8_t>(pick());
    }
    FixCrc(damaged, block.offset, end - block.offset - 4);
    const auto report = Inspect(damaged, true);
    if (!report.valid) {
      EXPECT_GE(report.errorOffset, block.offset + 4);
      EXPECT_LT(report.errorOffset, end);
      continue;
    }
    size_t standsFor = 0;
    for (const auto& b : report.blocks) standsFor += b.chunkLength;
    EXPECT_EQ(report.content.size(), standsFor);
  }
}

TEST(InspectImage, HostileBlockLengthFieldsGiveCleanErrors) {
  for (uint16_t length : std::initializer_list<uint16_t>{0xFFFF, 0, 5}) {
    auto image = MakeImage({StoredBlock(RandomBytes(100, 1))});
    Put16(image, IMAGE_HEADER_SIZE, length);
    const auto report = Inspect(image, true);
    EXPECT_FALSE(report.valid);
    EXPECT_EQ(report.errorOffset, IMAGE_HEADER_SIZE) << length;
    EXPECT_THAT(report.error, HasSubstr("length field")) << length;
    EXPECT_THAT(report.error, HasSubstr("offset 128"));
  }
}

TEST(InspectImage, HandMadeValidImageIsAccepted) {
  const auto first = RepetitiveBytes(IMAGE_CHUNK_MAX);
  const auto second = RandomBytes(10, 2);
  const auto report = Inspect(MakeImage({CompressedBlock(first), StoredBlock(second)}), true);
  ASSERT_TRUE(report.valid) << report.error;
  EXPECT_EQ(report.requestValue, 0x01020304u);
  EXPECT_EQ(report.content, Concat(first, second));
}

// Each field's fault is reported at that field's offset.
TEST(InspectImage, FieldFaultsAreReportedAtTheirOffset) {
  auto badLength = MakeImage({StoredBlock({1})});
  Put16(badLength, 0, 127);
  auto badCrc = MakeImage({StoredBlock({1})});
  badCrc[20] ^= 1;
  auto badKind = MakeImage({StoredBlock({1})});
  Put16(badKind, 4, 17);
  FixCrc(badKind, 0, 124);
  RawBlock wrongType = StoredBlock({1, 2, 3});
  wrongType.typeCode = 16;
  RawBlock longPayload = StoredBlock({1, 2, 3, 4});
  longPayload.chunkLength = 3;
  const std::pair<std::vector<uint8_t>, size_t> cases[] = {
      {badLength, 0},
      {badCrc, 2},
      {badKind, 4},
      {MakeImage({}, 0), 10},  // no blocks
      {MakeImage({wrongType}), IMAGE_HEADER_SIZE + 4},
      {MakeImage({StoredBlock({1, 2}), StoredBlock({3})}), IMAGE_HEADER_SIZE + 6},  // only the last may be short
      {MakeImage({longPayload}), IMAGE_HEADER_SIZE + 8},
  };
  for (const auto& [image, offset] : cases) {
    const auto report = Inspect(image);
    EXPECT_FALSE(report.valid) << offset;
    EXPECT_EQ(report.errorOffset, offset);
  }
  for (uint16_t chunk : std::initializer_list<uint16_t>{0, 32763, 0xFFFF}) {
    RawBlock block = StoredBlock({1, 2, 3});
    block.chunkLength = chunk;
    const auto report = Inspect(MakeImage({block}));
    EXPECT_FALSE(report.valid) << chunk;
    EXPECT_EQ(report.errorOffset, IMAGE_HEADER_SIZE + 6) << chunk;
  }
}

TEST(InspectImage, BlockCountMustMatchTheBlocksFound) {
  const auto tooMany = MakeImage({StoredBlock(RandomBytes(IMAGE_CHUNK_MAX, 3))}, 0xFFFFFFFF);
  const auto report = Inspect(tooMany);
  EXPECT_FALSE(report.valid);
  EXPECT_EQ(report.errorOffset, tooMany.size());
  EXPECT_THAT(report.error, HasSubstr("ends after 1 of 4294967295 blocks"));

  const auto tooFew = MakeImage({StoredBlock(RandomBytes(IMAGE_CHUNK_MAX, 3)), StoredBlock({1})}, 1);
  EXPECT_FALSE(Inspect(tooFew).valid);
}

TEST(InspectImage, CompressedPayloadMustInflateToExactlyItsChunk) {
  const auto chunk = std::vector<uint8_t>(IMAGE_CHUNK_MAX, 7);
  for (int delta : {-1, -20000}) {  // inflates to more than the block claims: output stays bounded
    RawBlock block = CompressedBlock(chunk);
    block.chunkLength = static_cast<uint16_t>(chunk.size() + delta);
    const auto report = Inspect(MakeImage({block}), true);
    EXPECT_FALSE(report.valid) << delta;
    EXPECT_EQ(report.errorOffset, IMAGE_HEADER_SIZE + 8);
  }

  RawBlock shortBlock = CompressedBlock(RepetitiveBytes(5000));
  shortBlock.chunkLength = 5001;  // inflates to less than claimed
  EXPECT_FALSE(Inspect(MakeImage({shortBlock})).valid);

  RawBlock garbage = StoredBlock(RandomBytes(50, 4));
  garbage.chunkLength = 100;  // p < c, but not a zlib stream
  EXPECT_FALSE(Inspect(MakeImage({garbage})).valid);

  RawBlock padded = CompressedBlock(RepetitiveBytes(5000));
  padded.payload.push_back(0);  // a complete stream followed by a stray byte
  EXPECT_FALSE(Inspect(MakeImage({padded})).valid);
}

}  // namespace
}  // namespace kestal

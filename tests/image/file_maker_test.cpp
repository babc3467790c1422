#include "image/file_maker.h"

#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

#include <filesystem>
#include <fstream>

#include "image/crc16.h"
#include "image/scratch_files.h"
#include "transfer/transfer_job.h"

namespace kestal {
namespace {

using testing::Concat;
using testing::RandomBytes;
using testing::RepetitiveBytes;
using testing::ScratchDir;

uint16_t Be16(const std::vector<uint8_t>& v, size_t at) {
  return static_cast<uint16_t>((v.at(at) << 8) | v.at(at + 1));
}
uint32_t Be32(const std::vector<uint8_t>& v, size_t at) {
  return (uint32_t{Be16(v, at)} << 16) | Be16(v, at + 2);
}

struct Block {
  size_t offset;
  uint16_t lengthField, crc, typeCode, chunkLength;
  std::vector<uint8_t> payload;
};

// Splits an image into its blocks by their length fields, independently of the reader.
std::vector<Block> SplitBlocks(const std::vector<uint8_t>& image) {
  std::vector<Block> blocks;
  for (size_t at = IMAGE_HEADER_SIZE; at < image.size();) {
    Block b{at, Be16(image, at), Be16(image, at + 2), Be16(image, at + 4), Be16(image, at + 6), {}};
    const size_t end = at + 2 + b.lengthField;
    if (b.lengthField < 6 || end > image.size()) throw std::runtime_error("bad block length");
    b.payload.assign(image.begin() + static_cast<ptrdiff_t>(at + 8),
                     image.begin() + static_cast<ptrdiff_t>(end));
    blocks.push_back(std::move(b));
    at = end;
  }
  return blocks;
}

std::vector<uint8_t> Unpack(const Block& b) {
  if (b.payload.size() == b.chunkLength) return b.payload;
  std::vector<uint8_t> out(b.chunkLength);
  uLongf length = b.chunkLength;
  EXPECT_EQ(uncompress(out.data(), &length, b.payload.data(), b.payload.size()), Z_OK);
  EXPECT_EQ(length, b.chunkLength);
  return out;
}

class FileMakerTest : public ::testing::Test {
 protected:
  std::vector<uint8_t> Pack(const std::vector<uint8_t>& content, uint32_t requestValue = 0) {
    const std::string path = dir.Write("list.fdu", content);
    std::vector<uint8_t> image;
    const uint32_t size = PackChannelImage(requestValue, path, image, MODE_CHANNELS);
    EXPECT_EQ(size, image.size());
    return image;
  }

  ScratchDir dir;
};

TEST_F(FileMakerTest, OneByteFileGivesTheExact137ByteImage) {
  const auto image = Pack({0xA5}, 0xCAFEF00D);

  std::vector<uint8_t> expected(137, 0);
  expected[1] = 126;
  expected[5] = 16;
  expected[6] = 0xCA, expected[7] = 0xFE, expected[8] = 0xF0, expected[9] = 0x0D;
  expected[13] = 1;
  const uint16_t headerCrc = Crc16(expected.data() + 4, 124);
  expected[2] = static_cast<uint8_t>(headerCrc >> 8), expected[3] = static_cast<uint8_t>(headerCrc);
  uint8_t* block = expected.data() + 128;
  block[1] = 7, block[5] = 2, block[7] = 1, block[8] = 0xA5;
  const uint16_t blockCrc = Crc16(block + 4, 5);
  block[2] = static_cast<uint8_t>(blockCrc >> 8), block[3] = static_cast<uint8_t>(blockCrc);

  EXPECT_EQ(image, expected);
}

// Random bytes do not compress: each chunk is stored as it stands in the file, and the image has
// exactly the size MaxImageSize reserves for it.
TEST_F(FileMakerTest, IncompressibleChunksAreStoredAsInTheFile) {
  for (size_t n : {size_t{IMAGE_CHUNK_MAX}, size_t{IMAGE_CHUNK_MAX} + 1, 3 * size_t{IMAGE_CHUNK_MAX} - 100}) {
    SCOPED_TRACE(n);
    const auto content = RandomBytes(n, static_cast<uint32_t>(n));
    const auto image = Pack(content);
    const auto blocks = SplitBlocks(image);
    const size_t count = (n + IMAGE_CHUNK_MAX - 1) / IMAGE_CHUNK_MAX;
    ASSERT_EQ(blocks.size(), count);
    EXPECT_EQ(Be32(image, 10), count);
    EXPECT_EQ(image.size(), 128 + 8 * count + n);
    EXPECT_EQ(image.size(), MaxImageSize(n));
    for (size_t i = 0; i < count; ++i) {
      const size_t from = i * IMAGE_CHUNK_MAX, length = std::min<size_t>(IMAGE_CHUNK_MAX, n - from);
      EXPECT_EQ(blocks[i].lengthField, length + 6);
      EXPECT_EQ(blocks[i].chunkLength, length);
      EXPECT_TRUE(std::equal(blocks[i].payload.begin(), blocks[i].payload.end(),
                             content.begin() + static_cast<ptrdiff_t>(from)));
      EXPECT_EQ(blocks[i].payload.size(), length);
    }
  }
}

TEST_F(FileMakerTest, CompressibleChunkIsStoredCompressed) {
  const auto content = std::vector<uint8_t>(IMAGE_CHUNK_MAX, 0x55);
  const auto image = Pack(content);
  const auto blocks = SplitBlocks(image);
  ASSERT_EQ(blocks.size(), 1u);
  const size_t p = blocks[0].payload.size();
  EXPECT_LT(p, 1000u);
  EXPECT_EQ(blocks[0].lengthField, p + 6);
  EXPECT_EQ(blocks[0].chunkLength, IMAGE_CHUNK_MAX);
  EXPECT_EQ(image.size(), 128 + 8 + p);
  EXPECT_EQ(Unpack(blocks[0]), content);
}

TEST_F(FileMakerTest, BlockCountIsTheChunkCountRoundedUp) {
  for (size_t n : {1u, 32761u, 32762u, 32763u, 65524u, 65525u, 200000u}) {
    const auto image = Pack(RepetitiveBytes(n));
    const auto blocks = SplitBlocks(image);
    const size_t expected = (n + IMAGE_CHUNK_MAX - 1) / IMAGE_CHUNK_MAX;
    EXPECT_EQ(blocks.size(), expected) << n;
    EXPECT_EQ(Be32(image, 10), expected) << n;
    for (size_t i = 0; i + 1 < blocks.size(); ++i) EXPECT_EQ(blocks[i].chunkLength, IMAGE_CHUNK_MAX);
    EXPECT_EQ(blocks.back().chunkLength, n - (expected - 1) * IMAGE_CHUNK_MAX) << n;
  }
}

// Nothing of an earlier packing may leak into a later one: the same file and request value
// always give the same image, and the reserved header bytes stay zero.
TEST_F(FileMakerTest, SameFileAndRequestValueGiveTheSameImageWhateverWasPackedBefore) {
  const auto small = Pack({0x42}, 7);
  const auto content = Concat(RandomBytes(40000, 6), RepetitiveBytes(70000));
  const auto large = Pack(content, 0xAABBCCDD);  // leaves long blocks in any shared work area
  const auto smallAgain = Pack({0x42}, 7);
  EXPECT_EQ(smallAgain, small);
  for (size_t i = 14; i < IMAGE_HEADER_SIZE; ++i) EXPECT_EQ(smallAgain[i], 0) << "byte " << i;
  EXPECT_EQ(Pack(content, 0xAABBCCDD), large);
}

TEST_F(FileMakerTest, TraceGetsOneDotPerBlockAndNothingGoesToStdout) {
  const std::string path = dir.Write("list.fdu", RandomBytes(3 * IMAGE_CHUNK_MAX + 1, 8));
  std::string trace;
  std::vector<uint8_t> image;
  ::testing::internal::CaptureStdout();
  PackChannelImage(0, path, image, MODE_CHANNELS, [&](const std::string& t) { trace += t; });
  PackChannelImage(0, path, image, MODE_CHANNELS);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(trace, "....");
}

TEST_F(FileMakerTest, NoImageForAnEmptyMissingHugeOrSoftwareFile) {
  const std::string huge = dir.Path("huge.fdu");
  std::ofstream(huge).close();
  std::filesystem::resize_file(huge, 0xFFFFFFFFull);  // too large for an image; sparse
  const std::pair<std::string, int> cases[] = {
      {dir.Write("empty.fdu", {}), MODE_CHANNELS},  {dir.Path("missing.fdu"), MODE_CHANNELS},
      {dir.Path(""), MODE_CHANNELS},  // a directory
      {huge, MODE_CHANNELS},          {dir.Write("a.fdu", {1, 2}), MODE_SOFTWARE},
  };
  for (const auto& [path, mode] : cases) {
    std::vector<uint8_t> image{1, 2, 3};
    EXPECT_EQ(PackChannelImage(0, path, image, mode), 0u) << path;
    EXPECT_TRUE(image.empty()) << path;
  }
}

// The trace runs before each chunk is read, after the file was measured: a seam to change the
// file under the packer's feet.
class ChangingFileTest : public FileMakerTest {
 protected:
  uint32_t PackWhileChanging(size_t atBlock, const std::function<void(const std::string&)>& change) {
    const std::string path = dir.Write("list.fdu", RandomBytes(3 * IMAGE_CHUNK_MAX, 9));
    size_t dots = 0;
    const PackTrace trace = [&](const std::string& t) {
      if (t == "." && dots++ == atBlock) change(path);
    };
    const uint32_t size = PackChannelImage(0, path, image, MODE_CHANNELS, trace);
    EXPECT_EQ(size, image.size());
    return size;
  }
  std::vector<uint8_t> image;
};

TEST_F(ChangingFileTest, FileThatShrinksOrGrowsWhilePackedGivesZero) {
  const auto shrink = [](const std::string& path) {
    std::filesystem::resize_file(path, IMAGE_CHUNK_MAX + 10);
  };
  const auto grow = [](const std::string& path) {
    std::ofstream(path, std::ios::binary | std::ios::app) << "more";
  };
  EXPECT_EQ(PackWhileChanging(0, [](const std::string&) {}), MaxImageSize(3 * IMAGE_CHUNK_MAX));
  EXPECT_EQ(PackWhileChanging(0, shrink), 0u);
  EXPECT_EQ(PackWhileChanging(1, shrink), 0u);
  EXPECT_EQ(PackWhileChanging(0, grow), 0u);
  EXPECT_EQ(PackWhileChanging(2, grow), 0u);
  EXPECT_TRUE(image.empty());
}

}  // namespace
}  // namespace kestal

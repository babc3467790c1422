// Packing a channel list and reading the image back must give the file again, whatever the
// chunk edges and however well each chunk compresses.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "image/crc16.h"
#include "image/file_maker.h"
#include "image/image_reader.h"

namespace kestal {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

class ImageTest : public ::testing::Test {
 protected:
  void SetUp() override { fs::create_directories(dir_); }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Write(const Bytes& content) {
    std::ofstream(path_, std::ios::binary)
        .write(reinterpret_cast<const char*>(content.data()),
               static_cast<std::streamsize>(content.size()));
    return path_.string();
  }

  const fs::path dir_ =
      fs::temp_directory_path() / ("kestal-image-test-" + std::to_string(getpid()));
  const fs::path path_ = dir_ / "channels.txt";
};

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

TEST_F(ImageTest, PackThenReadGivesTheFileBack) {
  for (const size_t size : {size_t{1}, size_t{32762}, size_t{32763}, size_t{100000}}) {
    const Bytes content = Mixed(size);
    Bytes image;
    const uint32_t packed = PackChannelImage(0xC0FFEE, Write(content), image);
    ASSERT_EQ(packed, image.size()) << size;
    const ImageReport report = InspectImage(image.data(), image.size(), true);
    ASSERT_TRUE(report.valid) << size << ": " << report.error;
    EXPECT_EQ(report.requestValue, 0xC0FFEEu);
    EXPECT_EQ(report.blockCount, (size + IMAGE_CHUNK_MAX - 1) / IMAGE_CHUNK_MAX);
    EXPECT_EQ(report.content, content) << size;
  }
}

TEST_F(ImageTest, ACompressibleChunkIsStoredShorter) {
  Bytes image;
  PackChannelImage(1, Write(Bytes(IMAGE_CHUNK_MAX, 'A')), image);
  const ImageReport report = InspectImage(image.data(), image.size(), false);
  ASSERT_EQ(report.blocks.size(), 1u);
  EXPECT_TRUE(report.blocks[0].compressed);
  EXPECT_LT(image.size(), 1000u);
}

TEST_F(ImageTest, NothingIsPackedFromAnEmptyMissingOrChangingFile) {
  Bytes image;
  EXPECT_EQ(PackChannelImage(1, Write({}), image), 0u);
  EXPECT_EQ(PackChannelImage(1, (dir_ / "missing").string(), image), 0u);
  // The file grows, or shrinks, once its first chunk has been read.
  for (const bool grow : {true, false}) {
    const std::string path = Write(Mixed(3 * IMAGE_CHUNK_MAX));
    bool changed = false;
    const PackTrace change = [&](const std::string&) {
      if (changed) return;
      changed = true;
      if (grow)
        std::ofstream(path, std::ios::app) << "more";
      else
        fs::resize_file(path, IMAGE_CHUNK_MAX);
    };
    EXPECT_EQ(PackChannelImage(1, path, image, change), 0u) << grow;
    EXPECT_TRUE(image.empty());
  }
}

TEST(Crc16, MatchesTheArcCheckValue) {
  const std::string check = "123456789";
  EXPECT_EQ(Crc16(reinterpret_cast<const uint8_t*>(check.data()), check.size()), 0xBB3D);
}

}  // namespace
}  // namespace kestal

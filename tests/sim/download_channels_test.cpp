// The virtual receiver walking a channel image block by block and unpacking it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "image/crc16.h"
#include "image/file_maker.h"
#include "link/frame_codec.h"
#include "scripted_tool.h"

namespace kestal::sim::testing {
namespace {

using ::testing::HasSubstr;

// A channel list of two chunks: a compressible one and a random one.
std::vector<uint8_t> ChannelList() {
  std::vector<uint8_t> list(IMAGE_CHUNK_MAX, 0);
  for (size_t i = 0; i < list.size(); ++i) list[i] = static_cast<uint8_t>("channel"[i % 7]);
  const std::vector<uint8_t> tail = PatternBytes(5000, 3);
  list.insert(list.end(), tail.begin(), tail.end());
  return list;
}

class DownloadChannels : public ::testing::Test {
 protected:
  DownloadChannels() {
    run.options.mode = DownloadMode::kChannels;
    run.options.requestValue = 0xCAFE0042;
    listPath = ScratchPath("list.fdu");
    WriteFile(listPath, list);
  }
  std::vector<uint8_t> Pack(uint32_t requestValue) {
    std::vector<uint8_t> image;
    EXPECT_GT(PackChannelImage(requestValue, listPath, image, 1), 0u);
    return image;
  }

  RoleRun run;
  std::vector<uint8_t> list = ChannelList();
  std::string listPath;
};

TEST_F(DownloadChannels, ValidImageIsWalkedUnpackedAndSaved) {
  const std::vector<uint8_t> image = Pack(run.options.requestValue);
  run.options.savePath = ScratchPath("saved.fdu");
  run.options.expectPath = listPath;
  DownloadingTool tool(run.link, image);
  run.link.Deliver(Burst());

  EXPECT_EQ(run.Download(), 0) << run.log.str();
  EXPECT_EQ(ReadFile(run.options.savePath), list);
  // Header first, then each block's length field before the block's rest.
  ASSERT_GE(tool.blockAsks.size(), 3u);
  EXPECT_EQ(tool.blockAsks[0].offset, 0u);
  EXPECT_EQ(tool.blockAsks[0].length, IMAGE_HEADER_SIZE);
  EXPECT_EQ(tool.blockAsks[1].offset, IMAGE_HEADER_SIZE);
  EXPECT_EQ(tool.blockAsks[1].length, 2u);
  const BlockAsk last = tool.blockAsks.back();
  EXPECT_EQ(last.offset + last.length, image.size());
  EXPECT_EQ(tool.finishes, 1);
  EXPECT_THAT(run.log.str(), HasSubstr("download ok, " + std::to_string(image.size())));
}

TEST_F(DownloadChannels, NoBlockRequestGoesPastTheImage) {
  const std::vector<uint8_t> image = Pack(run.options.requestValue);
  run.options.blockSize = 700;
  DownloadingTool tool(run.link, image);
  run.link.Deliver(Burst());

  EXPECT_EQ(run.Download(), 0);
  for (const BlockAsk& ask : tool.blockAsks) {
    EXPECT_LE(ask.offset + ask.length, image.size());
    EXPECT_LE(ask.length, 700u);
  }
}

TEST_F(DownloadChannels, CorruptedBlockCrcIsAFault) {
  std::vector<uint8_t> image = Pack(run.options.requestValue);
  image[IMAGE_HEADER_SIZE + 2] ^= 0x01;  // first block's CRC field
  DownloadingTool tool(run.link, image);
  run.link.Deliver(Burst());

  EXPECT_EQ(run.Download(), 1);
  EXPECT_THAT(run.log.str(), HasSubstr("image fault"));
}

TEST_F(DownloadChannels, CorruptedHeaderCrcStopsTheWalkAtOnce) {
  std::vector<uint8_t> image = Pack(run.options.requestValue);
  image[11] ^= 0x01;  // block count, covered by the header CRC
  DownloadingTool tool(run.link, image);
  run.link.Deliver(Burst());

  EXPECT_EQ(run.Download(), 1);
  EXPECT_EQ(tool.blockAsks.size(), 1u);
  EXPECT_THAT(run.log.str(), HasSubstr("header CRC"));
}

TEST_F(DownloadChannels, ImageForAnotherRequestValueIsAFault) {
  DownloadingTool tool(run.link, Pack(run.options.requestValue + 1));
  run.link.Deliver(Burst());

  EXPECT_EQ(run.Download(), 1);
  EXPECT_THAT(run.log.str(), HasSubstr("request value"));
}

TEST_F(DownloadChannels, ListDifferentFromTheExpectedOneIsAFault) {
  std::vector<uint8_t> other = list;
  other.back() ^= 1;
  run.options.expectPath = ScratchPath("other.fdu");
  WriteFile(run.options.expectPath, other);
  DownloadingTool tool(run.link, Pack(run.options.requestValue));
  run.link.Deliver(Burst());

  EXPECT_EQ(run.Download(), 1);
  EXPECT_THAT(run.log.str(), HasSubstr("channel list"));
}

}  // namespace
}  // namespace kestal::sim::testing

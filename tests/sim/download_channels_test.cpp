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
  const std::vector<uint8_t> tail = TestBytes(5000, 3);
  list.insert(list.end(), tail.begin(), tail.end());
  return list;
}

class DownloadChannels : public ::testing::Test {
 protected:
  DownloadChannels() {
    run.options.mode = DownloadMode::kChannels;
    run.options.requestValue = 0xCAFE0042;
    WriteBytes(listPath, list);
  }
  std::vector<uint8_t> Pack(uint32_t requestValue) {
    std::vector<uint8_t> image;
    EXPECT_GT(PackChannelImage(requestValue, listPath, image, 1), 0u);
    return image;
  }

  RoleRun run;
  std::vector<uint8_t> list = ChannelList();
  std::string listPath = run.dir.File("list.fdu");
};

TEST_F(DownloadChannels, ValidImageIsWalkedWithinItsBoundsUnpackedAndSaved) {
  const std::vector<uint8_t> image = Pack(run.options.requestValue);
  run.options.blockSize = 700;
  run.options.savePath = run.dir.File("saved.fdu");
  run.options.expectPath = listPath;
  DownloadingTool tool(run.link, image);
  run.link.Deliver(Burst());

  EXPECT_EQ(run.Download(), 0) << run.log.str();
  EXPECT_EQ(ReadBytes(run.options.savePath), list);
  // Header first, then each block's length field before the block's rest.
  ASSERT_GE(tool.blockAsks.size(), 3u);
  EXPECT_EQ(tool.blockAsks[0].offset, 0u);
  EXPECT_EQ(tool.blockAsks[0].length, IMAGE_HEADER_SIZE);
  EXPECT_EQ(tool.blockAsks[1].offset, IMAGE_HEADER_SIZE);
  EXPECT_EQ(tool.blockAsks[1].length, 2u);
  for (const BlockAsk& ask : tool.blockAsks) {
    EXPECT_LE(ask.offset + ask.length, image.size());
    EXPECT_LE(ask.length, 700u);
  }
  const BlockAsk last = tool.blockAsks.back();
  EXPECT_EQ(last.offset + last.length, image.size());
  EXPECT_EQ(tool.finishes, 1);
  EXPECT_THAT(run.log.str(), HasSubstr("download ok, " + std::to_string(image.size())));
}

TEST_F(DownloadChannels, FaultyImagesAreFaultsNamingWhatWasWrong) {
  const struct {
    const char* fault;
    int flipByte;            // -1: none
    uint32_t otherRequest;   // added to the request value the image is packed for
    bool otherList;          // the list expected differs in its last byte
    size_t asksBeforeFault;  // 0: not checked
  } cases[] = {
      {"image fault", IMAGE_HEADER_SIZE + 2, 0, false, 0},  // the first block's CRC field
      {"header CRC", 11, 0, false, 1},  // block count, covered by the header CRC: stops at once
      {"request value", -1, 1, false, 0},
      {"channel list", -1, 0, true, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fault);
    RoleRun faulty;
    faulty.options = run.options;
    std::vector<uint8_t> image = Pack(run.options.requestValue + c.otherRequest);
    if (c.flipByte >= 0) image[static_cast<size_t>(c.flipByte)] ^= 0x01;
    if (c.otherList) {
      std::vector<uint8_t> other = list;
      other.back() ^= 1;
      faulty.options.expectPath = faulty.dir.File("other.fdu");
      WriteBytes(faulty.options.expectPath, other);
    }
    DownloadingTool tool(faulty.link, image);
    faulty.link.Deliver(Burst());

    EXPECT_EQ(faulty.Download(), 1);
    EXPECT_THAT(faulty.log.str(), HasSubstr(c.fault));
    if (c.asksBeforeFault != 0) {
      EXPECT_EQ(tool.blockAsks.size(), c.asksBeforeFault);
    }
  }
}

}  // namespace
}  // namespace kestal::sim::testing

// The file being sent changes under the tool: shrinks or grows during a Software download, or is
// rewritten between two requests in Channels mode. The receiver gets a clean error or correct
// data, never bytes of another size.
#include <gtest/gtest.h>

#include <filesystem>

#include "e2e/e2e_support.h"
#include "e2e/fault_scripted_receiver.h"
#include "image/image_format.h"
#include "image/image_reader.h"

namespace kestal::e2e {
namespace {

constexpr uint16_t kBlock = 4096;

struct ChangingSource : ::testing::Test {
  ScratchDir dir;
  InProcessTool tool;
  ScriptedReceiver receiver;

  // Runs the receiver's script while the test thread serves the window.
  void RunTransfer(const std::string& file, int mode, std::function<void(ScriptedReceiver&)> script) {
    ASSERT_FALSE(receiver.Device().empty());
    tool.Start(receiver.Device(), file, mode, DIR_TO_RECEIVER);
    receiver.Run(std::move(script));
    EXPECT_TRUE(tool.window.PumpUntilWorkerExit(20s)) << tool.window.StatusesJoined();
    receiver.Join();
  }
  std::string LastStatus() const { return tool.window.Statuses().back(); }
};

// Asks for `file`'s first `blocks` blocks and checks each against `original`.
void FetchSomeBlocks(ScriptedReceiver& r, const std::vector<uint8_t>& original, int blocks) {
  ASSERT_TRUE(r.Request());
  for (int i = 0; i < blocks; ++i) {
    const uint32_t offset = static_cast<uint32_t>(i) * kBlock;
    auto data = r.Block(kBlock, offset);
    ASSERT_TRUE(data);
    EXPECT_TRUE(std::equal(data->begin(), data->end(), original.begin() + offset));
  }
}

TEST_F(ChangingSource, SoftwareFileShrinkingMidDownloadIsAReadingFailure) {
  const std::string file = dir.File("image.ird");
  const auto original = TestBytes(65536, 31);
  WriteBytes(file, original);
  bool answeredPastTheEnd = true;
  RunTransfer(file, MODE_SOFTWARE, [&](ScriptedReceiver& r) {
    FetchSomeBlocks(r, original, 4);
    std::filesystem::resize_file(file, 17000);  // the next block can only be read in part
    answeredPastTheEnd = r.Block(kBlock, 4 * kBlock).has_value();
  });
  EXPECT_FALSE(answeredPastTheEnd);
  EXPECT_EQ(LastStatus(), "Error : Reading fail.") << tool.window.StatusesJoined();
}

TEST_F(ChangingSource, SoftwareFileGrowingMidDownloadServesOnlyTheMeasuredBytes) {
  const std::string file = dir.File("image.ird");
  const auto original = TestBytes(65536, 32);
  WriteBytes(file, original);
  bool answeredBeyond = true;
  RunTransfer(file, MODE_SOFTWARE, [&](ScriptedReceiver& r) {
    FetchSomeBlocks(r, original, 4);
    WriteBytes(file, TestBytes(3 * 65536, 33));  // rewritten larger, same file
    for (uint32_t offset = 4 * kBlock; offset < 65536; offset += kBlock) {
      EXPECT_TRUE(r.Block(kBlock, offset));  // served: within the size measured at the start
    }
    answeredBeyond = r.Block(kBlock, 65536).has_value();
  });
  EXPECT_FALSE(answeredBeyond);
  EXPECT_EQ(LastStatus(), "Error : .....") << tool.window.StatusesJoined();
}

// Fetches a whole ChannelImage the way a receiver does: the header, then block by block.
std::vector<uint8_t> FetchImage(ScriptedReceiver& r) {
  namespace fmt = image_format;
  std::vector<uint8_t> image;
  auto fetch = [&](uint32_t length) {
    while (length > 0) {
      const auto piece = static_cast<uint16_t>(std::min<uint32_t>(length, kBlock));
      auto data = r.Block(piece, static_cast<uint32_t>(image.size()));
      if (!data) return false;
      image.insert(image.end(), data->begin(), data->end());
      length -= piece;
    }
    return true;
  };
  if (!fetch(IMAGE_HEADER_SIZE)) return {};
  const uint32_t blocks = fmt::ReadBE32(image.data() + fmt::kBlockCountAt);
  for (uint32_t i = 0; i < blocks && blocks < 1000; ++i) {
    const size_t start = image.size();
    if (!fetch(2)) return {};
    if (!fetch(fmt::ReadBE16(image.data() + start))) return {};
  }
  return image;
}

TEST_F(ChangingSource, ChannelListRewrittenBetweenRequestsGivesTheImageOfTheNewList) {
  const std::string file = dir.File("list.fdu");
  WriteBytes(file, TestBytes(50000, 34));
  const auto rewritten = TestBytes(120000, 35);
  std::vector<uint8_t> image;
  RunTransfer(file, MODE_CHANNELS, [&](ScriptedReceiver& r) {
    ASSERT_TRUE(r.Request(0x1111));
    ASSERT_TRUE(r.Block(IMAGE_HEADER_SIZE, 0));
    WriteBytes(file, rewritten);
    ASSERT_TRUE(r.Request(0x2222));  // the receiver starts over
    image = FetchImage(r);
    r.Finish();
  });
  const ImageReport report = InspectImage(image.data(), image.size(), true);
  ASSERT_TRUE(report.valid) << report.error;
  EXPECT_EQ(report.requestValue, 0x2222u);
  EXPECT_EQ(report.content, rewritten);
  EXPECT_TRUE(tool.window.LastExitCompleted());
}

class ChangingChannelList : public ChangingSource, public ::testing::WithParamInterface<bool> {};

TEST_P(ChangingChannelList, EmptiedOrRemovedBetweenRequestsIsAPackagingError) {
  const std::string file = dir.File("list.fdu");
  WriteBytes(file, TestBytes(50000, 36));
  bool acceptedAgain = false;
  std::optional<std::vector<uint8_t>> servedAfter;
  RunTransfer(file, MODE_CHANNELS, [&](ScriptedReceiver& r) {
    ASSERT_TRUE(r.Request());
    ASSERT_TRUE(r.Block(IMAGE_HEADER_SIZE, 0));
    if (GetParam()) {
      WriteBytes(file, {});
    } else {
      std::filesystem::remove(file);
    }
    acceptedAgain = r.Request();  // answered before the image is built
    servedAfter = r.Block(IMAGE_HEADER_SIZE, 0);
  });
  EXPECT_TRUE(acceptedAgain);
  EXPECT_FALSE(servedAfter);
  EXPECT_EQ(LastStatus(), "Error : Packaging error.") << tool.window.StatusesJoined();
}

INSTANTIATE_TEST_SUITE_P(Ways, ChangingChannelList, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& param) {
                           return param.param ? "Emptied" : "Removed";
                         });

}  // namespace
}  // namespace kestal::e2e

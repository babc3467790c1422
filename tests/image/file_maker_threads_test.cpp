#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "image/file_maker.h"
#include "image/scratch_files.h"
#include "transfer/transfer_job.h"

namespace kestal {
namespace {

using testing::Concat;
using testing::RandomBytes;
using testing::RepetitiveBytes;

std::vector<uint8_t> PackOnce(const std::string& path, uint32_t requestValue) {
  std::vector<uint8_t> image;
  PackChannelImage(requestValue, path, image, MODE_CHANNELS);
  return image;
}

// Two packings at once must not share any work area: each thread's images must equal the ones
// packed alone.
TEST(FileMakerThreads, ConcurrentPackingsGiveTheSameImagesAsPackingAlone) {
  testing::ScratchDir dir;
  const std::string paths[2] = {
      dir.Write("a.fdu", Concat(RandomBytes(70000, 11), RepetitiveBytes(50000))),
      dir.Write("b.fdu", Concat(RepetitiveBytes(33000), RandomBytes(900, 12)))};
  const std::vector<uint8_t> expected[2] = {PackOnce(paths[0], 0xA), PackOnce(paths[1], 0xB)};
  ASSERT_FALSE(expected[0].empty());
  ASSERT_FALSE(expected[1].empty());

  std::atomic<int> mismatches{0};
  auto packRepeatedly = [&](int which) {
    for (int round = 0; round < 8; ++round) {
      if (PackOnce(paths[which], which == 0 ? 0xA : 0xB) != expected[which]) ++mismatches;
    }
  };
  std::thread first(packRepeatedly, 0);
  std::thread second(packRepeatedly, 1);
  first.join();
  second.join();
  EXPECT_EQ(mismatches.load(), 0);
}

}  // namespace
}  // namespace kestal

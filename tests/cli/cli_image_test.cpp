// kestal-cli pack and inspect, run as the real program.
#include <fstream>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "cli/cli_runner.h"
#include "image/scratch_files.h"

namespace kestal {
namespace {

using ::testing::HasSubstr;
using testing::RandomBytes;
using testing::ReadAll;
using testing::RepetitiveBytes;
using testing::RunCli;

class CliImageTest : public ::testing::Test {
 protected:
  testing::ScratchDir dir;
};

TEST_F(CliImageTest, PackThenExtractGivesBackTheFile) {
  for (size_t n : {1u, 1000u, 32762u, 32763u, 100000u, 300000u}) {
    for (const auto& content : {RandomBytes(n, static_cast<uint32_t>(n)), RepetitiveBytes(n)}) {
      const std::string file = dir.Write("list.fdu", content);
      const auto packed = RunCli({"pack", file, dir.Path("list.img")});
      ASSERT_EQ(packed.exitCode, 0) << n << ": " << packed.err;

      const auto inspected = RunCli({"inspect", dir.Path("list.img"), "--extract", dir.Path("back.fdu")});
      ASSERT_EQ(inspected.exitCode, 0) << n << ": " << inspected.err;
      EXPECT_EQ(ReadAll(dir.Path("back.fdu")), content) << n;
    }
  }
}

// 64 MB of one repeated byte packs into a few hundred KB; extracting it must not hold the
// whole list in memory.
TEST_F(CliImageTest, ExtractingAHighlyCompressedImageStaysSmallInMemory) {
  // Written in pieces: a child's peak memory counts its parent's at the time it was started.
  const std::string file = dir.Path("zeros.fdu");
  {
    std::ofstream out(file, std::ios::binary);
    const std::vector<char> piece(1u << 20, 0);
    for (int i = 0; i < 64; ++i) out.write(piece.data(), static_cast<std::streamsize>(piece.size()));
  }
  ASSERT_EQ(RunCli({"pack", file, dir.Path("zeros.img")}).exitCode, 0);
  const auto inspected =
      RunCli({"inspect", dir.Path("zeros.img"), "--extract", dir.Path("back.fdu")});
  ASSERT_EQ(inspected.exitCode, 0) << inspected.err;
  EXPECT_EQ(ReadAll(dir.Path("back.fdu")).size(), 64u << 20);
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
  EXPECT_LT(inspected.peakResidentKiB, 32 * 1024) << "the list was held in memory whole";
#endif
}

TEST_F(CliImageTest, InspectListsTheHeaderAndEveryBlock) {
  const std::string file = dir.Write("list.fdu", RandomBytes(70000, 1));
  ASSERT_EQ(RunCli({"pack", "--request-value", "0x12345678", file, dir.Path("a.img")}).exitCode, 0);

  const auto run = RunCli({"inspect", dir.Path("a.img")});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_THAT(run.out, HasSubstr("0x12345678"));
  EXPECT_THAT(run.out, HasSubstr("3 blocks"));
  EXPECT_THAT(run.out, HasSubstr("block 0: offset 128,"));
  EXPECT_THAT(run.out, HasSubstr("block 2: offset 65668, length field 4482"));
  EXPECT_THAT(run.out, HasSubstr("stored"));
}

TEST_F(CliImageTest, DecimalAndHexRequestValuesGiveTheSameImage) {
  const std::string file = dir.Write("list.fdu", RepetitiveBytes(5000));
  ASSERT_EQ(RunCli({"pack", "--request-value", "305419896", file, dir.Path("d.img")}).exitCode, 0);
  ASSERT_EQ(RunCli({"pack", "--request-value", "0x12345678", file, dir.Path("h.img")}).exitCode, 0);
  EXPECT_EQ(ReadAll(dir.Path("d.img")), ReadAll(dir.Path("h.img")));
  const auto image = ReadAll(dir.Path("h.img"));
  ASSERT_GE(image.size(), 10u);
  EXPECT_EQ(std::vector<uint8_t>(image.begin() + 6, image.begin() + 10),
            (std::vector<uint8_t>{0x12, 0x34, 0x56, 0x78}));
}

TEST_F(CliImageTest, GarbageRequestValuesAreUsageErrors) {
  const std::string file = dir.Write("list.fdu", {1, 2, 3});
  for (const char* value : {"12x", "0x", "-1", "+5", " 7", "0x100000000", "4294967296", "", "0x1g"}) {
    const auto run = RunCli({"pack", "--request-value", value, file, dir.Path("x.img")});
    EXPECT_EQ(run.exitCode, 2) << "'" << value << "'";
  }
  EXPECT_EQ(RunCli({"pack", "--request-value", "4294967295", file, dir.Path("x.img")}).exitCode, 0);
}

TEST_F(CliImageTest, UnreadableOrEmptyFilesFailWithAMessage) {
  const auto missing = RunCli({"pack", dir.Path("missing.fdu"), dir.Path("x.img")});
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_THAT(missing.err, HasSubstr("no such file"));

  const auto empty = RunCli({"pack", dir.Write("empty.fdu", {}), dir.Path("x.img")});
  EXPECT_EQ(empty.exitCode, 1);
  EXPECT_THAT(empty.err, HasSubstr("empty"));

  const auto directory = RunCli({"pack", dir.Path(""), dir.Path("x.img")});
  EXPECT_EQ(directory.exitCode, 1);
  EXPECT_FALSE(directory.err.empty());
}

TEST_F(CliImageTest, ImageThatCannotBeWrittenFails) {
  const std::string file = dir.Write("list.fdu", {1});
  const auto run = RunCli({"pack", file, dir.Path("no-such-dir/x.img")});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_FALSE(run.err.empty());
}

TEST_F(CliImageTest, CorruptImageFailsNamingTheFaultAndItsOffset) {
  const std::string file = dir.Write("list.fdu", RandomBytes(40000, 2));
  ASSERT_EQ(RunCli({"pack", file, dir.Path("a.img")}).exitCode, 0);
  auto image = ReadAll(dir.Path("a.img"));
  image[32898 + 2] ^= 0x01;  // the second block's CRC
  const std::string corrupt = dir.Write("corrupt.img", image);

  const auto run = RunCli({"inspect", corrupt, "--extract", dir.Path("out.fdu")});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_THAT(run.err, HasSubstr("block 1 CRC mismatch at offset 32900"));
  EXPECT_FALSE(std::filesystem::exists(dir.Path("out.fdu")));  // nothing half-extracted
}

TEST_F(CliImageTest, MissingOrTruncatedImageFails) {
  EXPECT_EQ(RunCli({"inspect", dir.Path("missing.img")}).exitCode, 1);
  const auto truncated = RunCli({"inspect", dir.Write("short.img", {0x00, 0x7E, 0x00})});
  EXPECT_EQ(truncated.exitCode, 1);
  EXPECT_THAT(truncated.err, HasSubstr("offset 3"));
}

TEST_F(CliImageTest, BadArgumentsAreUsageErrors) {
  EXPECT_EQ(RunCli({"pack"}).exitCode, 2);
  EXPECT_EQ(RunCli({"pack", "only-one-path"}).exitCode, 2);
  EXPECT_EQ(RunCli({"inspect"}).exitCode, 2);
  EXPECT_EQ(RunCli({"inspect", "a.img", "--no-such-option"}).exitCode, 2);
  EXPECT_EQ(RunCli({"inspect", "a.img", "--extract"}).exitCode, 2);
}

}  // namespace
}  // namespace kestal

// kestal-cli pack and inspect, run as the real program.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>

#include "e2e/e2e_support.h"

namespace kestal::e2e {
namespace {

using ::testing::HasSubstr;

struct CliRun {
  int exitCode = -1;
  std::string out;
  std::string err;
  long peakResidentKiB = 0;
};

CliRun RunCli(const std::vector<std::string>& args) {
  auto cli = StartCli(args);
  const ChildExit exit = cli->Wait();
  return {exit.code, cli->StdoutJoined(), cli->StderrJoined(), exit.peakResidentKiB};
}

// Text-like bytes that compress well but not to nothing.
std::vector<uint8_t> RepetitiveBytes(size_t size) {
  static const std::string kLine = "Channel 0042 Astra 19.2E 11.778 V 27500 3/4\n";
  std::vector<uint8_t> bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(kLine[i % kLine.size()]);
  return bytes;
}

class CliImageTest : public ::testing::Test {
 protected:
  std::string Write(const std::string& name, const std::vector<uint8_t>& data) {
    WriteBytes(dir.File(name), data);
    return dir.File(name);
  }
  ScratchDir dir;
};

TEST_F(CliImageTest, PackThenExtractGivesBackTheFile) {
  for (size_t n : {1u, 1000u, 32762u, 32763u, 100000u, 300000u}) {
    for (const auto& content : {TestBytes(n, static_cast<uint32_t>(n)), RepetitiveBytes(n)}) {
      const std::string file = Write("list.fdu", content);
      const auto packed = RunCli({"pack", file, dir.File("list.img")});
      ASSERT_EQ(packed.exitCode, 0) << n << ": " << packed.err;

      const auto inspected = RunCli({"inspect", dir.File("list.img"), "--extract", dir.File("back.fdu")});
      ASSERT_EQ(inspected.exitCode, 0) << n << ": " << inspected.err;
      EXPECT_EQ(ReadBytes(dir.File("back.fdu")), content) << n;
    }
  }
}

// 64 MB of one repeated byte packs into a few hundred KB; extracting it must not hold the
// whole list in memory.
TEST_F(CliImageTest, ExtractingAHighlyCompressedImageStaysSmallInMemory) {
  // Written in pieces: a child's peak memory counts its parent's at the time it was started.
  const std::string file = dir.File("zeros.fdu");
  {
    std::ofstream out(file, std::ios::binary);
    const std::vector<char> piece(1u << 20, 0);
    for (int i = 0; i < 64; ++i) out.write(piece.data(), static_cast<std::streamsize>(piece.size()));
  }
  ASSERT_EQ(RunCli({"pack", file, dir.File("zeros.img")}).exitCode, 0);
  const auto inspected =
      RunCli({"inspect", dir.File("zeros.img"), "--extract", dir.File("back.fdu")});
  ASSERT_EQ(inspected.exitCode, 0) << inspected.err;
  EXPECT_EQ(std::filesystem::file_size(dir.File("back.fdu")), 64u << 20);
  if (!kSanitized) {
    EXPECT_LT(inspected.peakResidentKiB, 32 * 1024) << "the list was held in memory whole";
  }
}

TEST_F(CliImageTest, RequestValueInDecimalOrHexIsPackedAndListedWithEveryBlock) {
  const std::string file = Write("list.fdu", TestBytes(70000, 1));
  ASSERT_EQ(RunCli({"pack", "--request-value", "305419896", file, dir.File("d.img")}).exitCode, 0);
  ASSERT_EQ(RunCli({"pack", "--request-value", "0x12345678", file, dir.File("h.img")}).exitCode, 0);
  const auto image = ReadBytes(dir.File("h.img"));
  EXPECT_EQ(ReadBytes(dir.File("d.img")), image);
  ASSERT_GE(image.size(), 10u);
  EXPECT_EQ(std::vector<uint8_t>(image.begin() + 6, image.begin() + 10),
            (std::vector<uint8_t>{0x12, 0x34, 0x56, 0x78}));

  const auto run = RunCli({"inspect", dir.File("h.img")});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  for (const char* text : {"0x12345678", "3 blocks", "block 0: offset 128,",
                           "block 2: offset 65668, length field 4482", "stored"}) {
    EXPECT_THAT(run.out, HasSubstr(text));
  }
}

TEST_F(CliImageTest, BadArgumentsAndGarbageRequestValuesAreUsageErrors) {
  const std::string file = Write("list.fdu", {1, 2, 3});
  std::vector<std::vector<std::string>> usages = {
      {"pack"}, {"pack", "only-one-path"}, {"inspect"}, {"inspect", "a.img", "--no-such-option"},
      {"inspect", "a.img", "--extract"}};
  for (const char* value : {"12x", "0x", "-1", "+5", " 7", "0x100000000", "4294967296", "", "0x1g"}) {
    usages.push_back({"pack", "--request-value", value, file, dir.File("x.img")});
  }
  for (const auto& args : usages) {
    EXPECT_EQ(RunCli(args).exitCode, 2) << ::testing::PrintToString(args);
  }
  EXPECT_EQ(RunCli({"pack", "--request-value", "4294967295", file, dir.File("x.img")}).exitCode, 0);
}

TEST_F(CliImageTest, UnusableFilesFailWithAMessage) {
  const struct {
    std::vector<std::string> args;
    const char* message;
  } cases[] = {
      {{"pack", dir.File("missing.fdu"), dir.File("x.img")}, "no such file"},
      {{"pack", Write("empty.fdu", {}), dir.File("x.img")}, "empty"},
      {{"pack", dir.File(""), dir.File("x.img")}, ""},  // a directory
      {{"pack", Write("one.fdu", {1}), dir.File("no-such-dir/x.img")}, ""},
      {{"inspect", dir.File("missing.img")}, ""},
      {{"inspect", Write("short.img", {0x00, 0x7E, 0x00})}, "offset 3"},
  };
  for (const auto& c : cases) {
    const auto run = RunCli(c.args);
    EXPECT_EQ(run.exitCode, 1) << ::testing::PrintToString(c.args);
    EXPECT_FALSE(run.err.empty());
    EXPECT_THAT(run.err, HasSubstr(c.message));
  }
}

TEST_F(CliImageTest, CorruptImageFailsNamingTheFaultAndItsOffset) {
  const std::string file = Write("list.fdu", TestBytes(40000, 2));
  ASSERT_EQ(RunCli({"pack", file, dir.File("a.img")}).exitCode, 0);
  auto image = ReadBytes(dir.File("a.img"));
  image[32898 + 2] ^= 0x01;  // the second block's CRC
  const std::string corrupt = Write("corrupt.img", image);

  const auto run = RunCli({"inspect", corrupt, "--extract", dir.File("out.fdu")});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_THAT(run.err, HasSubstr("block 1 CRC mismatch at offset 32900"));
  EXPECT_FALSE(std::filesystem::exists(dir.File("out.fdu")));  // nothing half-extracted
}

}  // namespace
}  // namespace kestal::e2e

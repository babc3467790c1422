// The disk fills during an upload: "Writing error %d" with the bytes written before the failing
// block, the previous target intact, and no temporary file left beside it.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/statvfs.h>

#include <filesystem>
#include <iostream>

#include "e2e/e2e_support.h"
#include "e2e/fault_support.h"

namespace kestal::e2e {
namespace {

std::string WritingError(uint64_t offset) { return "Writing error " + std::to_string(offset); }

// The receiving kestal-cli may write at most `limit` bytes into any file (RLIMIT_FSIZE, with
// SIGXFSZ ignored so the write fails with EFBIG instead of killing it).
class FaultFileSizeLimit : public ::testing::TestWithParam<rlim_t> {};

TEST_P(FaultFileSizeLimit, WritingErrorNamesTheBytesBeforeTheFailingBlock) {
  const rlim_t limit = GetParam();
  ScratchDir dir;
  const std::string served = dir.File("served.fdu");
  const std::string target = dir.File("target.fdu");
  WriteBytes(served, TestBytes(5000, 21));
  const auto old = TestBytes(200, 22);
  WriteBytes(target, old);
  Sim sim = StartSim({"--timeout", "5", "upload", "--serve", served});
  ASSERT_FALSE(sim.device.empty());
  ChildSetup setup;
  setup.fileSizeLimit = limit;
  auto cli = StartCli({"receive", "--port", sim.device, target}, setup);
  EXPECT_EQ(cli->Wait(20s).code, 1);
  const auto texts = cli->StderrTexts();
  ASSERT_FALSE(texts.empty());
  EXPECT_EQ(texts.back(), WritingError(limit / 255 * 255)) << cli->StderrJoined();
  EXPECT_EQ(ReadBytes(target), old);
  EXPECT_EQ(DirectoryEntries(dir.Path().string()),
            (std::vector<std::string>{"served.fdu", "target.fdu"}));
}

// No room at all, a limit inside a block, one on a block boundary, and one just short of the end.
INSTANTIATE_TEST_SUITE_P(Limits, FaultFileSizeLimit,
                         ::testing::Values(rlim_t{0}, rlim_t{600}, rlim_t{1020}, rlim_t{4999}));

// A real full file system: a small tmpfs mounted on a scratch directory (needs root; skipped
// otherwise).
class SmallTmpfs {
 public:
  explicit SmallTmpfs(const std::string& where) : m_where(where) {
    std::filesystem::create_directory(where);
    m_mounted = ::mount("tmpfs", where.c_str(), "tmpfs", 0, "size=32k") == 0;
  }
  ~SmallTmpfs() {
    if (m_mounted) ::umount2(m_where.c_str(), MNT_DETACH);
  }
  bool Mounted() const { return m_mounted; }
  uint64_t FreeBytes() const {
    struct statvfs info {};
    ::statvfs(m_where.c_str(), &info);
    return uint64_t{info.f_bavail} * info.f_frsize;
  }

 private:
  std::string m_where;
  bool m_mounted = false;
};

TEST(FaultDiskFull, FullFileSystemKeepsTheOldTargetAndLeavesNoTemporaryFile) {
  ScratchDir dir;
  SmallTmpfs disk(dir.File("disk"));
  if (!disk.Mounted()) GTEST_SKIP() << "cannot mount a tmpfs here";
  const std::string served = dir.File("served.fdu");
  const std::string target = dir.File("disk/target.fdu");
  WriteBytes(served, TestBytes(70 * 1024, 23));
  const auto old = TestBytes(5000, 24);
  WriteBytes(target, old);
  const uint64_t room = disk.FreeBytes();
  ASSERT_LT(room, 70u * 1024);

  Sim sim = StartSim({"--timeout", "5", "upload", "--serve", served});
  ASSERT_FALSE(sim.device.empty());
  auto cli = StartCli({"receive", "--port", sim.device, target});
  EXPECT_EQ(cli->Wait(30s).code, 1);
  const auto texts = cli->StderrTexts();
  ASSERT_FALSE(texts.empty());
  EXPECT_EQ(texts.back(), WritingError(room / 255 * 255)) << cli->StderrJoined();
  std::cout << room << " bytes free: [" << texts.back() << "]" << std::endl;
  EXPECT_EQ(ReadBytes(target), old);
  EXPECT_EQ(DirectoryEntries(dir.File("disk")), std::vector<std::string>{"target.fdu"});
  EXPECT_EQ(disk.FreeBytes(), room);  // the space the temporary file took is given back
}

}  // namespace
}  // namespace kestal::e2e

// The virtual port registry: where links live, how they are made and removed, and that
// discovery sees what was registered.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "ports/fake_system.h"
#include "ports/port_discovery.h"
#include "ports/virtual_ports.h"

namespace kestal {
namespace {

namespace fs = std::filesystem;

// Sets XDG_RUNTIME_DIR for one test and puts the old value back afterwards.
class RuntimeDirOverride {
 public:
  explicit RuntimeDirOverride(const std::optional<std::string>& value) {
    if (const char* old = std::getenv("XDG_RUNTIME_DIR")) m_old = old;
    if (value) {
      setenv("XDG_RUNTIME_DIR", value->c_str(), 1);
    } else {
      unsetenv("XDG_RUNTIME_DIR");
    }
  }
  ~RuntimeDirOverride() {
    if (m_old) {
      setenv("XDG_RUNTIME_DIR", m_old->c_str(), 1);
    } else {
      unsetenv("XDG_RUNTIME_DIR");
    }
  }

 private:
  std::optional<std::string> m_old;
};

TEST(VirtualPortDirectory, RuntimeDirectoryWhenItIsUsableElsePerUserTmpDirectory) {
  test::TempDir runtime;
  test::WriteFile(runtime.path() / "file", "");
  const std::string fallback = "/tmp/kestal-" + std::to_string(getuid()) + "/ports";
  const std::pair<std::optional<std::string>, std::string> cases[] = {
      {runtime.path().string(), (runtime.path() / "kestal" / "ports").string()},
      {std::nullopt, fallback},
      {(runtime.path() / "missing").string(), fallback},
      {(runtime.path() / "file").string(), fallback},
      {"relative/dir", fallback},
  };
  for (const auto& [value, expected] : cases) {
    RuntimeDirOverride env(value);
    EXPECT_EQ(VirtualPortDirectory(), expected) << value.value_or("(unset)");
  }
}

// Every test registers into its own runtime directory, never into the real one.
class Registry : public ::testing::Test {
 protected:
  Registry() : m_env(m_runtime.path().string()) {}

  fs::path PortDir() const { return m_runtime.path() / "kestal" / "ports"; }
  PortList Discover() const {
    PortList list;
    EnumeratePorts(list, {(m_runtime.path() / "no-sysfs").string(), "/dev", ""});
    return list;
  }

  test::TempDir m_runtime;
  RuntimeDirOverride m_env;
};

TEST_F(Registry, RegisterCreatesPrivateDirectoryAndLinkThatDiscoveryFinds) {
  std::string error;
  const std::string link = RegisterVirtualPort("sim", "/dev/zero", &error);
  EXPECT_EQ(error, "");
  EXPECT_EQ(fs::path(link), PortDir() / "sim");
  EXPECT_EQ(fs::read_symlink(link), "/dev/zero");
  struct stat st {};
  ASSERT_EQ(stat(PortDir().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  ASSERT_EQ(stat(PortDir().parent_path().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0077, 0u);

  const PortList list = Discover();
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].m_strDevicePath, "/dev/zero");
  EXPECT_EQ(list[0].m_strPortName, "sim");
  EXPECT_EQ(list[0].m_strFriendlyName, "Virtual Port (sim)");
}

TEST_F(Registry, ReRegisteringReplacesTargetAndLeavesNoTemporaryLinks) {
  ASSERT_NE(RegisterVirtualPort("sim", "/dev/zero"), "");
  const std::string link = RegisterVirtualPort("sim", "/dev/full");
  EXPECT_EQ(fs::read_symlink(link), "/dev/full");
  int entries = 0;
  for (const auto& entry : fs::directory_iterator(PortDir())) {
    EXPECT_EQ(entry.path().filename(), "sim");
    ++entries;
  }
  EXPECT_EQ(entries, 1);
}

TEST_F(Registry, RelativeDevicePathIsStoredAbsolute) {
  const std::string link = RegisterVirtualPort("rel", "some/where");
  EXPECT_EQ(fs::read_symlink(link), fs::current_path() / "some/where");
}

TEST_F(Registry, RejectsNamesThatEscapeOrHideOrBreakListings) {
  for (const std::string name : {"", "a/b", "../x", ".hidden", "tab\tname", "line\nbreak"}) {
    std::string error;
    EXPECT_EQ(RegisterVirtualPort(name, "/dev/null", &error), "") << name;
    EXPECT_NE(error, "") << name;
  }
  std::string error;
  EXPECT_EQ(RegisterVirtualPort("sim", "", &error), "");
  EXPECT_NE(error, "");
  EXPECT_FALSE(fs::exists(m_runtime.path() / "x"));
  EXPECT_TRUE(Discover().empty());
}

TEST_F(Registry, UnregisterRemovesOnlyLinks) {
  const std::string link = RegisterVirtualPort("sim", "/dev/null");
  UnregisterVirtualPort(link);
  EXPECT_FALSE(fs::is_symlink(link));
  EXPECT_TRUE(Discover().empty());

  test::WriteFile(PortDir() / "keep", "user data");
  UnregisterVirtualPort((PortDir() / "keep").string());
  EXPECT_TRUE(fs::exists(PortDir() / "keep"));
  UnregisterVirtualPort((PortDir() / "never-registered").string());
}

TEST_F(Registry, LooseExistingDirectoryIsTightened) {
  fs::create_directories(PortDir());
  fs::permissions(PortDir(), fs::perms::all);
  ASSERT_NE(RegisterVirtualPort("sim", "/dev/null"), "");
  EXPECT_EQ(fs::status(PortDir()).permissions(), fs::perms::owner_all);
  EXPECT_EQ(Discover().size(), 1u);
}

TEST_F(Registry, DirectoryOfAnotherUserIsRefused) {
  fs::create_directories(PortDir());
  if (chown(PortDir().c_str(), geteuid() + 1, static_cast<gid_t>(-1)) != 0) {
    GTEST_SKIP() << "cannot hand the directory to another user here";
  }
  std::string error;
  EXPECT_EQ(RegisterVirtualPort("sim", "/dev/null", &error), "");
  EXPECT_NE(error.find("not private"), std::string::npos) << error;
  EXPECT_FALSE(fs::is_symlink(PortDir() / "sim"));
}

// An emulator killed before it could remove its link leaves it behind: pointing nowhere, or
// at a terminal handed out again since, to someone else.
TEST_F(Registry, LinksOfEmulatorsThatEndedAreSkippedThenSweptAway) {
  ASSERT_NE(RegisterVirtualPort("live", "/dev/zero"), "");
  fs::create_symlink(m_runtime.path() / "no-such-pty", PortDir() / "gone");
  fs::create_symlink("/dev/null", PortDir() / "reused");
  // Made, as it were, before its device: /dev/null is younger than a link dated 1970.
  const timespec longAgo[2] = {{1, 0}, {1, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, (PortDir() / "reused").c_str(), longAgo, AT_SYMLINK_NOFOLLOW), 0);
  test::WriteFile(PortDir() / "not-a-link", "");

  const PortList list = Discover();
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].m_strPortName, "live");
  EXPECT_TRUE(fs::is_symlink(PortDir() / "reused"));  // discovery only reads

  // The next registration sweeps the dead links away, and nothing else.
  ASSERT_NE(RegisterVirtualPort("next", "/dev/full"), "");
  EXPECT_FALSE(fs::is_symlink(PortDir() / "gone"));
  EXPECT_FALSE(fs::is_symlink(PortDir() / "reused"));
  EXPECT_TRUE(fs::is_symlink(PortDir() / "live"));
  EXPECT_TRUE(fs::exists(PortDir() / "not-a-link"));
  EXPECT_EQ(Discover().size(), 2u);
}

// The machine's own sysfs and /dev, with one registered port so the list is never empty.
TEST_F(Registry, RealMachineListsEveryPortCompletelyAndFindably) {
  ASSERT_NE(RegisterVirtualPort("sim", "/dev/zero"), "");
  PortList list;
  ASSERT_NO_THROW(EnumeratePorts(list));
  const PortInfo* sim = FindPort(list, "sim");
  ASSERT_NE(sim, nullptr);
  EXPECT_EQ(sim->m_strDevicePath, "/dev/zero");
  for (const PortInfo& record : list) {
    EXPECT_FALSE(record.m_strDevicePath.empty());
    EXPECT_FALSE(record.m_strFriendlyName.empty());
    EXPECT_FALSE(record.m_strDescription.empty());
    const PortInfo* found = FindPort(list, record.m_strDevicePath);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->m_strPortName, record.m_strPortName);
  }
}

}  // namespace
}  // namespace kestal

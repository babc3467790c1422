#pragma once
// Shared pieces of the end-to-end tests: scratch directories, test data, and starting the
// emulator and kestal-cli.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "e2e/child_process.h"

namespace kestal::e2e {

using namespace std::chrono_literals;

class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  std::string File(const std::string& name) const { return (m_path / name).string(); }
  const std::filesystem::path& Path() const { return m_path; }

 private:
  std::filesystem::path m_path;
};

// Deterministic bytes that do not repeat with any short period.
std::vector<uint8_t> TestBytes(size_t size, uint32_t seed);
void WriteBytes(const std::string& path, const std::vector<uint8_t>& data);
std::vector<uint8_t> ReadBytes(const std::string& path);

// The emulator, started with `args`; its device path is read from its first stdout line.
struct Sim {
  std::unique_ptr<ChildProcess> process;
  std::string device;
};
Sim StartSim(const std::vector<std::string>& args);

// kestal-cli with `args`, running.
std::unique_ptr<ChildProcess> StartCli(const std::vector<std::string>& args,
                                       ChildSetup setup = {});

// The path of the committed examples.
std::string ExamplePath(const std::string& name);

// Built with a sanitizer: timing and CPU figures mean nothing then.
constexpr bool kSanitized =
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
    true;
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer) || __has_feature(address_sanitizer)
    true;
#else
    false;
#endif
#else
    false;
#endif

}  // namespace kestal::e2e

#pragma once
// A temporary directory that lives as long as the test, and the files the tests put in it.
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace kestal::testing {

class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  std::string File(const std::string& name) const { return (path_ / name).string(); }
  const std::filesystem::path& Path() const { return path_; }
  // The names of the directory's entries, sorted.
  std::vector<std::string> Entries() const;

 private:
  std::filesystem::path path_;
};

// Deterministic bytes without a short period, so a block sent twice or out of place shows.
std::vector<uint8_t> TestBytes(size_t size, uint32_t seed);
void WriteBytes(const std::string& path, const std::vector<uint8_t>& data);
std::vector<uint8_t> ReadBytes(const std::string& path);

}  // namespace kestal::testing

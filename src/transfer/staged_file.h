#pragma once
// Writes a file under a unique temporary name beside its target and puts it in place only when
// it is complete, so a failed or stopped transfer never damages what the target held before.
#include <cstddef>
#include <cstdint>
#include <string>

namespace kestal {

class StagedFile {
 public:
  StagedFile() = default;
  ~StagedFile() { Discard(); }
  StagedFile(const StagedFile&) = delete;
  StagedFile& operator=(const StagedFile&) = delete;

  // Creates the temporary file. False when the target cannot be written or the directory
  // does not take a new file.
  bool Open(const std::string& target);
  // Unbuffered: a failure (full disk, size limit) shows at the write that meets it.
  bool Write(const uint8_t* data, size_t size);
  // Flushes to disk and renames over the target. On failure the temporary file is removed.
  bool Commit();
  // Removes the temporary file, if any; the target stays as it was.
  void Discard();

  const std::string& TempPath() const { return tempPath_; }

 private:
  int fd_ = -1;
  std::string target_;
  std::string tempPath_;
};

}  // namespace kestal

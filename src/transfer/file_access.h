#pragma once
// The files a send reads, opened by their UTF-8 names: POSIX calls on Linux; on Windows the name
// becomes UTF-16 for the wide API, so that any file name works.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace kestal {

// A regular file opened for reading, measured when opened.
class SourceFile {
 public:
  SourceFile() = default;
  ~SourceFile();
  SourceFile(const SourceFile&) = delete;
  SourceFile& operator=(const SourceFile&) = delete;

  // False when there is no such file, it may not be read, or it is no regular file. Never
  // blocks, whatever the file is (a FIFO).
  bool Open(const std::string& path);
  bool IsOpen() const { return handle_ != -1; }
  uint64_t Size() const { return opened_.size; }
  // Reads up to `count` bytes from `offset`, without a shared file position; how many were
  // read, or -1.
  int64_t ReadAt(void* buffer, size_t count, uint64_t offset);
  // False once the file has another size or modification time than when it was opened: it was
  // rewritten meanwhile.
  bool Unchanged() const;

 private:
  struct Version {
    uint64_t size = 0;
    int64_t modified = 0;  // in the finest unit the platform keeps
    bool operator==(const Version&) const = default;
  };
  std::optional<Version> Current() const;
  void Close();

  intptr_t handle_ = -1;  // the descriptor, or the Windows handle (-1 on both: none)
  Version opened_;
};

// The size of the file at `path`; nullopt when there is nothing to measure there.
std::optional<uint64_t> FileSize(const std::string& path);

}  // namespace kestal

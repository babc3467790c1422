#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "transfer/file_access.h"

namespace kestal {

SourceFile::~SourceFile() { Close(); }

bool SourceFile::Open(const std::string& path) {
  Close();
  // Non-blocking, so that a FIFO given as the file cannot hang the caller in open().
  handle_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (handle_ < 0) {
    handle_ = -1;
    return false;
  }
  struct stat info {};
  if (::fstat(static_cast<int>(handle_), &info) != 0 || !S_ISREG(info.st_mode)) {
    Close();
    return false;
  }
  opened_ = Current().value_or(Version{});
  return true;
}

int64_t SourceFile::ReadAt(void* buffer, size_t count, uint64_t offset) {
  return ::pread(static_cast<int>(handle_), buffer, count, static_cast<off_t>(offset));
}

bool SourceFile::Unchanged() const { return Current() == opened_; }

std::optional<SourceFile::Version> SourceFile::Current() const {
  struct stat info {};
  if (handle_ < 0 || ::fstat(static_cast<int>(handle_), &info) != 0) return std::nullopt;
  return Version{static_cast<uint64_t>(info.st_size),
                 info.st_mtim.tv_sec * 1'000'000'000LL + info.st_mtim.tv_nsec};
}

void SourceFile::Close() {
  if (handle_ >= 0) ::close(static_cast<int>(handle_));
  handle_ = -1;
}

std::optional<uint64_t> FileSize(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return std::nullopt;
  return static_cast<uint64_t>(info.st_size);
}

}  // namespace kestal

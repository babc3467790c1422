#include "transfer/staged_file.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "transfer/input_check.h"

namespace kestal {
namespace {

// The process's file creation mask, read without changing it (umask() would, for all threads).
mode_t CurrentUmask() {
  std::ifstream status("/proc/self/status");
  std::string key;
  while (status >> key) {
    if (key == "Umask:") {
      std::string value;
      status >> value;
      return static_cast<mode_t>(std::strtoul(value.c_str(), nullptr, 8));
    }
  }
  return 022;
}

std::string DirectoryOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// The target's name as far as it fits a folder entry with the staged name's dot and suffix
// around it, cut between characters: a target named as long as allowed still gets its file.
std::string StagedStem(const std::string& base) {
  constexpr size_t kMaxStem = NAME_MAX - std::char_traits<char>::length("..XXXXXX");
  if (base.size() <= kMaxStem) return base;
  size_t end = kMaxStem;
  while (end > 0 && (static_cast<unsigned char>(base[end]) & 0xC0) == 0x80) --end;
  return base.substr(0, end);
}

void SyncDirectory(const std::string& directory) {
  const int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);  // best effort: the file itself is already on disk
  ::close(fd);
}

}  // namespace

bool StagedFile::Open(const std::string& target) {
  Discard();
  // A symbolic link is followed (under the same rules as the check before the transfer), so
  // that the file it names is the one replaced.
  std::string why;
  target_ = ResolveReceiveTarget(target, why);
  if (target_.empty()) return false;
  mode_t mode = 0666 & ~CurrentUmask();
  struct stat info {};
  if (::stat(target_.c_str(), &info) == 0) mode = info.st_mode & 07777;
  const size_t slash = target_.rfind('/');
  const std::string base = slash == std::string::npos ? target_ : target_.substr(slash + 1);
  const std::string pattern =
      target_.substr(0, target_.size() - base.size()) + "." + StagedStem(base) + ".XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  fd_ = ::mkostemp(name.data(), O_CLOEXEC);
  if (fd_ < 0) return false;
  tempPath_ = name.data();
  ::fchmod(fd_, mode);
  return true;
}

bool StagedFile::Write(const uint8_t* data, size_t size) {
  if (fd_ < 0) return false;
  while (size > 0) {
    const ssize_t written = ::write(fd_, data, size);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    data += written;
    size -= static_cast<size_t>(written);
  }
  return true;
}

bool StagedFile::Commit() {
  if (fd_ < 0) return false;
  const bool synced = ::fsync(fd_) == 0;
  const bool closed = ::close(fd_) == 0;
  fd_ = -1;
  if (!synced || !closed || ::rename(tempPath_.c_str(), target_.c_str()) != 0) {
    Discard();
    return false;
  }
  tempPath_.clear();
  SyncDirectory(DirectoryOf(target_));
  return true;
}

void StagedFile::Discard() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  if (!tempPath_.empty()) ::unlink(tempPath_.c_str());
  tempPath_.clear();
}

}  // namespace kestal

#include <unistd.h>

#include "transfer/file_access.h"

namespace kestal {

int64_t ReadAt(int fd, void* buffer, size_t count, uint64_t offset) {
  return ::pread(fd, buffer, count, static_cast<off_t>(offset));
}

bool SameFileVersion(const struct stat& then, const struct stat& now) {
  return now.st_size == then.st_size && now.st_mtim.tv_sec == then.st_mtim.tv_sec &&
         now.st_mtim.tv_nsec == then.st_mtim.tv_nsec;
}

}  // namespace kestal

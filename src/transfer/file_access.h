#pragma once
// The two things a send does to its source file that POSIX and Windows spell differently:
// reading at an offset without a shared file position, and telling whether the file was
// rewritten since it was opened.
#include <sys/stat.h>

#include <cstddef>
#include <cstdint>

namespace kestal {

// Reads up to `count` bytes of `fd` from `offset`; how many were read, or -1.
int64_t ReadAt(int fd, void* buffer, size_t count, uint64_t offset);

// True when `now` describes the same contents as `then`: same size, same modification time
// to the finest unit the platform keeps.
bool SameFileVersion(const struct stat& then, const struct stat& now);

}  // namespace kestal

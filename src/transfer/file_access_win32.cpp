// Windows has no pread: an overlapped read at an offset on the descriptor's own handle does the
// same without touching the descriptor's file position.
#include <io.h>
#include <windows.h>

#include "transfer/file_access.h"

namespace kestal {

int64_t ReadAt(int fd, void* buffer, size_t count, uint64_t offset) {
  const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
  if (handle == INVALID_HANDLE_VALUE) return -1;
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  DWORD got = 0;
  if (!ReadFile(handle, buffer, static_cast<DWORD>(count), &got, &at)) {
    return GetLastError() == ERROR_HANDLE_EOF ? 0 : -1;
  }
  return got;
}

// The C runtime keeps whole seconds only.
bool SameFileVersion(const struct stat& then, const struct stat& now) {
  return now.st_size == then.st_size && now.st_mtime == then.st_mtime;
}

}  // namespace kestal

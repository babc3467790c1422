// The wide API throughout: the UTF-8 name becomes UTF-16, so no code page can lose a letter.
// Windows has no pread: an overlapped read at an offset on the handle does the same.
#include <windows.h>

#include "common/utf16.h"
#include "transfer/file_access.h"

namespace kestal {
namespace {

HANDLE AsHandle(intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

uint64_t Join(DWORD high, DWORD low) { return (uint64_t{high} << 32) | low; }

}  // namespace

SourceFile::~SourceFile() { Close(); }

bool SourceFile::Open(const std::string& path) {
  Close();
  const std::wstring wide = WideFileName(path);
  if (wide.empty()) return false;
  // Others may go on reading and writing it, as on POSIX; a rewrite shows in Unchanged().
  const HANDLE file = CreateFileW(wide.c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  handle_ = reinterpret_cast<intptr_t>(file);
  const auto version = Current();
  if (GetFileType(file) != FILE_TYPE_DISK || !version) {  // a pipe, a device, a folder
    Close();
    return false;
  }
  opened_ = *version;
  return true;
}

int64_t SourceFile::ReadAt(void* buffer, size_t count, uint64_t offset) {
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  DWORD got = 0;
  if (!ReadFile(AsHandle(handle_), buffer, static_cast<DWORD>(count), &got, &at)) {
    return GetLastError() == ERROR_HANDLE_EOF ? 0 : -1;
  }
  return got;
}

bool SourceFile::Unchanged() const { return Current() == opened_; }

std::optional<SourceFile::Version> SourceFile::Current() const {
  BY_HANDLE_FILE_INFORMATION info{};
  if (handle_ == -1 || !GetFileInformationByHandle(AsHandle(handle_), &info)) return std::nullopt;
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return std::nullopt;
  const FILETIME& written = info.ftLastWriteTime;
  return Version{Join(info.nFileSizeHigh, info.nFileSizeLow),
                 static_cast<int64_t>(Join(written.dwHighDateTime, written.dwLowDateTime))};
}

void SourceFile::Close() {
  if (handle_ != -1) CloseHandle(AsHandle(handle_));
  handle_ = -1;
}

std::optional<uint64_t> FileSize(const std::string& path) {
  const std::wstring wide = WideFileName(path);
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (wide.empty() || !GetFileAttributesExW(wide.c_str(), GetFileExInfoStandard, &data)) {
    return std::nullopt;
  }
  return Join(data.nFileSizeHigh, data.nFileSizeLow);
}

}  // namespace kestal

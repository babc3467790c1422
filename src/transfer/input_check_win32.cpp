// The file checks on Windows, through the wide API so that any file name works.
#include <windows.h>

#include <filesystem>
#include <string>

#include "common/printable.h"
#include "common/utf16.h"
#include "common/windows_error.h"
#include "transfer/input_check.h"

namespace kestal {
namespace {

// A receive writes a staged file beside its target first, named ".NAME.PID.N"; a name with no
// room left for that in a folder entry would fail only once the receiver is awake.
constexpr size_t kMaxNameLength = 255;  // UTF-16 units, as NTFS, FAT32 (long names) and exFAT
constexpr size_t kStagedNameExtra = 1 + 1 + 10 + 1 + 10;

// The wide form, which std::filesystem takes as it is on Windows (a UTF-8 one it would convert,
// and throw on a stray byte).
std::filesystem::path PathOf(const std::string& path) { return Utf8ToWide(path); }

// The folder a new file at `path` goes into, at "\" or "/", including a drive's root ("C:\"),
// a drive's current folder ("C:") and a share (\\server\share).
std::string FolderOf(const std::string& path) {
  const std::filesystem::path folder = PathOf(path).parent_path();
  return folder.empty() ? "." : WideToUtf8(folder.native());
}

bool NameFitsStaging(const std::string& path) {
  return PathOf(path).filename().native().size() + kStagedNameExtra <= kMaxNameLength;
}

// Devices (NUL, CON, COM1) open like files; only a file on a disk is data.
bool IsDiskFile(const std::wstring& path, DWORD& error) {
  const HANDLE file = CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    error = GetLastError();
    return false;
  }
  const bool disk = GetFileType(file) == FILE_TYPE_DISK;
  CloseHandle(file);
  error = ERROR_SUCCESS;
  return disk;
}

}  // namespace

std::optional<std::string> WhyNotReadable(const std::string& path) {
  const std::wstring wide = WideFileName(path);
  const HANDLE file = CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return "Cannot read " + Printable(path) + ": " + SystemMessage(GetLastError());
  }
  const bool disk = GetFileType(file) == FILE_TYPE_DISK;
  BY_HANDLE_FILE_INFORMATION info{};
  const bool folder = GetFileInformationByHandle(file, &info) &&
                      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  CloseHandle(file);
  if (!disk || folder) return "Cannot read " + Printable(path) + ": not a regular file";
  return std::nullopt;
}

std::string ResolveReceiveTarget(const std::string& target, std::string& why) {
  if (!NameFitsStaging(target)) {
    why =
        CannotWrite(target, "the name is too long (at most " +
                                std::to_string(kMaxNameLength - kStagedNameExtra) + " characters)");
    return {};
  }
  const std::wstring wide = WideFileName(target);
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = GetLastError();
    if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) {
      why = CannotWrite(target, SystemMessage(error));
      return {};
    }
    const std::string folder = FolderOf(target);
    const DWORD folderAttributes = GetFileAttributesW(WideFileName(folder).c_str());
    if (folderAttributes == INVALID_FILE_ATTRIBUTES ||
        (folderAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
      why = CannotWrite(target, "folder " + Printable(folder) + " does not exist");
      return {};
    }
    return target;
  }
  DWORD error = ERROR_SUCCESS;
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    why = CannotWrite(target, "it is a folder");
  } else if (!IsDiskFile(wide, error)) {
    why = CannotWrite(target, error == ERROR_SUCCESS ? "not a regular file" : SystemMessage(error));
  } else if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) {
    why = CannotWrite(target, "the file is read-only");
  } else {
    return target;
  }
  return {};
}

}  // namespace kestal

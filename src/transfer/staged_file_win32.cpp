// StagedFile on Windows: the temporary file is created beside the target under a fresh name,
// flushed, and moved over the target in one step (MoveFileEx replaces an existing file, which
// rename() does not do here). Names past MAX_PATH take the \\?\ form.
#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>
#include <windows.h>

#include <atomic>
#include <string>

#include "common/utf16.h"
#include "transfer/input_check.h"
#include "transfer/staged_file.h"

namespace kestal {
namespace {

std::string TemporaryPath(const std::string& target, unsigned attempt) {
  const size_t slash = target.find_last_of("/\\");
  const size_t base = slash == std::string::npos ? 0 : slash + 1;
  return target.substr(0, base) + "." + target.substr(base) + "." +
         std::to_string(GetCurrentProcessId()) + "." + std::to_string(attempt);
}

// Virus scanners, indexers and backup tools open a file for a moment when it changes; the
// target held so refuses to be replaced for that moment. Tried again for about 2 s.
bool MoveIntoPlace(const std::wstring& from, const std::wstring& to) {
  constexpr int kAttempts = 40;
  constexpr DWORD kPauseMs = 50;
  for (int attempt = 1;; ++attempt) {
    if (MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      return true;
    }
    const DWORD error = GetLastError();
    const bool held = error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED ||
                      error == ERROR_LOCK_VIOLATION;
    if (!held || attempt == kAttempts) return false;
    Sleep(kPauseMs);
  }
}

}  // namespace

bool StagedFile::Open(const std::string& target) {
  Discard();
  std::string why;
  target_ = ResolveReceiveTarget(target, why);
  if (target_.empty()) return false;
  static std::atomic<unsigned> counter{0};
  for (int tries = 0; tries < 100 && fd_ < 0; ++tries) {
    const std::string candidate = TemporaryPath(target_, counter++);
    // Binary (no CR/LF translation), not inherited by children, and never an existing file.
    const int flags = _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT;
    if (_wsopen_s(&fd_, WideFileName(candidate).c_str(), flags, _SH_DENYWR, _S_IREAD | _S_IWRITE) ==
        0) {
      tempPath_ = candidate;
    } else if (errno != EEXIST) {
      fd_ = -1;
      return false;
    } else {
      fd_ = -1;
    }
  }
  return fd_ >= 0;
}

bool StagedFile::Write(const uint8_t* data, size_t size) {
  if (fd_ < 0) return false;
  while (size > 0) {
    const unsigned piece = static_cast<unsigned>(size < (1U << 30) ? size : (1U << 30));
    const int written = _write(fd_, data, piece);
    if (written <= 0) return false;
    data += written;
    size -= static_cast<size_t>(written);
  }
  return true;
}

bool StagedFile::Commit() {
  if (fd_ < 0) return false;
  const bool synced = _commit(fd_) == 0;
  const bool closed = _close(fd_) == 0;
  fd_ = -1;
  if (!synced || !closed || !MoveIntoPlace(WideFileName(tempPath_), WideFileName(target_))) {
    Discard();
    return false;
  }
  tempPath_.clear();
  return true;
}

void StagedFile::Discard() {
  if (fd_ >= 0) _close(fd_);
  fd_ = -1;
  if (!tempPath_.empty()) DeleteFileW(WideFileName(tempPath_).c_str());
  tempPath_.clear();
}

}  // namespace kestal

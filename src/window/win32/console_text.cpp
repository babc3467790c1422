#include "window/win32/console_text.h"

#include <windows.h>

#include "common/utf16.h"

namespace kestal::win32 {
namespace {

// The starter's console, attached once; nullptr when the program was not started from one.
HANDLE StarterConsole() {
  static const HANDLE console = [] {
    if (!AttachConsole(ATTACH_PARENT_PROCESS)) return HANDLE{nullptr};
    const HANDLE output =
        CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    return output == INVALID_HANDLE_VALUE ? HANDLE{nullptr} : output;
  }();
  return console;
}

// A console takes UTF-16; a file or a pipe gets the bytes as they are.
bool WriteTo(HANDLE handle, const std::string& text) {
  DWORD written = 0;
  DWORD mode = 0;
  if (GetConsoleMode(handle, &mode)) {
    const std::wstring wide = Utf8ToWide(text);
    return WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr) !=
           FALSE;
  }
  return WriteFile(handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
         written == text.size();
}

}  // namespace

// A handle given that takes nothing (a console this program is not attached to) gives way to
// the starter's console.
bool WriteToStarter(StdStream stream, const std::string& text) {
  const HANDLE given =
      GetStdHandle(stream == StdStream::Output ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
  if (given && given != INVALID_HANDLE_VALUE && WriteTo(given, text)) return true;
  const HANDLE console = StarterConsole();
  return console && WriteTo(console, text);
}

}  // namespace kestal::win32

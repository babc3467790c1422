#include <io.h>
#include <windows.h>

#include "cli/terminal.h"

namespace kestal::cli {

namespace {

bool WindowOf(std::FILE* stream, SMALL_RECT& window) {
  const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (handle == INVALID_HANDLE_VALUE || !GetConsoleScreenBufferInfo(handle, &info)) return false;
  window = info.srWindow;
  return true;
}

}  // namespace

int TerminalColumns(std::FILE* stream) {
  SMALL_RECT window{};
  return WindowOf(stream, window) ? window.Right - window.Left + 1 : 0;
}

int TerminalRows(std::FILE* stream) {
  SMALL_RECT window{};
  return WindowOf(stream, window) ? window.Bottom - window.Top + 1 : 0;
}

bool IsTerminal(std::FILE* stream) { return _isatty(_fileno(stream)) != 0; }

}  // namespace kestal::cli

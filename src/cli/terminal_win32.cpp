// The console is the one terminal on Windows: the C runtime's isatty() is true for NUL and any
// other character device too.
#include <io.h>
#include <windows.h>

#include "cli/terminal.h"

namespace kestal::cli {

namespace {

HANDLE HandleOf(std::FILE* stream) {
  return reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
}

bool WindowOf(std::FILE* stream, SMALL_RECT& window) {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (!GetConsoleScreenBufferInfo(HandleOf(stream), &info)) return false;
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

bool IsTerminal(std::FILE* stream) {
  DWORD mode = 0;
  return GetConsoleMode(HandleOf(stream), &mode) != 0;
}

// A console takes escape sequences only from Windows 10 on, once asked to, and Wine's prints
// them as text even then; blanks over the bar's one line work on every console.
bool TakesEscapes(std::FILE* /*stream*/) { return false; }

}  // namespace kestal::cli

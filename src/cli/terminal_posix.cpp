#include <sys/ioctl.h>
#include <unistd.h>

#include "cli/terminal.h"

namespace kestal::cli {

int TerminalColumns(std::FILE* stream) {
  winsize size{};
  if (ioctl(fileno(stream), TIOCGWINSZ, &size) != 0) return 0;
  return size.ws_col;
}

bool IsTerminal(std::FILE* stream) { return isatty(fileno(stream)) != 0; }

bool TakesEscapes(std::FILE* /*stream*/) { return true; }

int TerminalRows(std::FILE* stream) {
  winsize size{};
  if (ioctl(fileno(stream), TIOCGWINSZ, &size) != 0) return 0;
  return size.ws_row;
}

}  // namespace kestal::cli

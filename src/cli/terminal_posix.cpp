#include <sys/ioctl.h>

#include "cli/terminal.h"

namespace kestal::cli {

int TerminalColumns(std::FILE* stream) {
  winsize size{};
  if (ioctl(fileno(stream), TIOCGWINSZ, &size) != 0) return 0;
  return size.ws_col;
}

int TerminalRows(std::FILE* stream) {
  winsize size{};
  if (ioctl(fileno(stream), TIOCGWINSZ, &size) != 0) return 0;
  return size.ws_row;
}

}  // namespace kestal::cli

#pragma once
// Whether a stream writes to a terminal, and its size, asked the way each platform answers it.
#include <cstdio>

namespace kestal::cli {

// Columns of the terminal behind `stream`; 0 when it is no terminal or cannot tell.
int TerminalColumns(std::FILE* stream);
// Lines of the terminal behind `stream`; 0 when it is no terminal or cannot tell.
int TerminalRows(std::FILE* stream);
// A terminal the user watches: on Windows a console, not NUL or another character device.
bool IsTerminal(std::FILE* stream);
// Whether the bar on the terminal behind `stream` may be redrawn with escape sequences (cursor
// up, erase); without them a bar of one line is blanked over.
bool TakesEscapes(std::FILE* stream);

}  // namespace kestal::cli

#pragma once
// Whether a stream writes to a terminal, and its size, asked the way each platform answers it.
#include <cstdio>

namespace kestal::cli {

// Columns of the terminal behind `stream`; 0 when it is no terminal or cannot tell.
int TerminalColumns(std::FILE* stream);
// Lines of the terminal behind `stream`; 0 when it is no terminal or cannot tell.
int TerminalRows(std::FILE* stream);
bool IsTerminal(std::FILE* stream);

}  // namespace kestal::cli

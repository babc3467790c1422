#pragma once
// The size of the terminal a stream writes to, asked the way each platform answers it.
#include <cstdio>

namespace kestal::cli {

// Columns of the terminal behind `stream`; 0 when it is no terminal or cannot tell.
int TerminalColumns(std::FILE* stream);
// Lines of the terminal behind `stream`; 0 when it is no terminal or cannot tell.
int TerminalRows(std::FILE* stream);

}  // namespace kestal::cli

#pragma once
// Text for whoever started the window program. It has no console of its own: its standard
// streams are the ones it was given (a file or a pipe when redirected, `2> log.txt`), or else
// the console of the program that started it (cmd.exe, PowerShell), when there is one.
#include <string>

namespace kestal::win32 {

enum class StdStream { Output, Error };

// Writes `text` (UTF-8) as it is; false when nobody is there to read it.
bool WriteToStarter(StdStream stream, const std::string& text);

}  // namespace kestal::win32

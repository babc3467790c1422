#pragma once
// The program's arguments as Windows passed them (UTF-16), in UTF-8, without the program's
// own name.
#include <string>
#include <vector>

namespace kestal::win32 {

std::vector<std::string> CommandLineArguments();

}  // namespace kestal::win32

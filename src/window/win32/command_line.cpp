#include "window/win32/command_line.h"

#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include "common/utf16.h"

namespace kestal::win32 {

std::vector<std::string> CommandLineArguments() {
  int count = 0;
  wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
  std::vector<std::string> result;
  if (!arguments) return result;
  for (int index = 1; index < count; ++index) result.push_back(WideToUtf8(arguments[index]));
  LocalFree(arguments);
  return result;
}

}  // namespace kestal::win32

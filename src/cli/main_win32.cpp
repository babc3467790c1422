// Windows hands the command line over as UTF-16 (wmain, linked with -municode), whatever the
// ANSI code page: converted to UTF-8, any file name survives. The console shows UTF-8 too.
#include <windows.h>

#include <string>
#include <vector>

#include "cli/commands.h"
#include "common/utf16.h"

int wmain(int argc, wchar_t** argv) {
  SetConsoleOutputCP(CP_UTF8);
  std::vector<std::string> texts;
  for (int i = 0; i < argc; ++i) texts.push_back(kestal::WideToUtf8(argv[i]));
  std::vector<char*> pointers;
  for (std::string& text : texts) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return kestal::cli::RunCommandLine(argc, pointers.data());
}

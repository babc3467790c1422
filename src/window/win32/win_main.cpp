// kestal.exe: the window on Windows. `kestal.exe FILE` sends FILE at once (command-line mode);
// --help and --version answer without a window.
#include <windows.h>
// After windows.h, which they need.
#include <commctrl.h>
#include <objbase.h>

#include <optional>
#include <string>
#include <vector>

#include "window/core/program_info.h"
#include "window/win32/command_line.h"
#include "window/win32/common_dialogs.h"
#include "window/win32/console_text.h"
#include "window/win32/main_dialog.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show) {
  // Taken as UTF-16, whatever the code page: any file name works. Only the first argument
  // counts; further ones are ignored.
  const std::vector<std::string> arguments = kestal::win32::CommandLineArguments();
  const std::string argument = arguments.empty() ? std::string() : arguments.front();
  if (const std::optional<std::string> info = kestal::window::InfoOptionText(argument)) {
    if (!kestal::win32::WriteToStarter(kestal::win32::StdStream::Output, *info))
      kestal::win32::ShowMessage(nullptr, *info, "kestal");
    return 0;
  }

  // The file dialogs host shell extensions, which want a single-threaded apartment.
  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  const INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&controls);
  int status = 1;
  {
    kestal::win32::MainDialog dialog(instance, argument);
    status = dialog.Run(show);
  }
  if (SUCCEEDED(com)) CoUninitialize();
  return status;
}

#pragma once
// The system's own dialogs the window uses: file open and save, and message boxes.
#include <windows.h>

#include <optional>
#include <string>
#include <string_view>

namespace kestal::win32 {

struct FileDialogRequest {
  // Save: a file that does not exist may be named, and an existing one is taken without a
  // question (a receive replaces it) unless confirmOverwrite asks first. Open: the file must
  // exist.
  bool saveAs = false;
  bool confirmOverwrite = false;
  // Display names and patterns separated by "|", ending in "||":
  // "IRD File (*.ird)|*.ird|All file (*.*)|*.*||".
  std::string filter;
  std::string defaultExtension;  // added to a name typed without one ("fdu", no dot)
  std::string initialPath;       // where the dialog starts, and the name it offers
};

// The full path chosen, UTF-8; nullopt when the user cancelled.
std::optional<std::string> AskFileName(HWND owner, const FileDialogRequest& request);

// A modal box with an OK button. An empty caption gives the system's own ("Error").
void ShowMessage(HWND owner, std::string_view text, std::string_view caption);

}  // namespace kestal::win32

#pragma once
// The dialog a report opens in (Check Port's): the text read-only in a fixed-width font, so its
// columns stay aligned; Copy puts the whole text on the clipboard, OK closes the dialog.
#include <windows.h>

#include <string>

namespace kestal::win32 {

// Shows `text` (UTF-8, lines ending in "\n") under the caption `title` over `owner` until the
// user closes it.
void ShowReportDialog(HINSTANCE instance, HWND owner, const std::string& title,
                      const std::string& text);

}  // namespace kestal::win32

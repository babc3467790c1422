#pragma once
// The About box: an entry in the window's system menu, and the dialog it opens.
#include <windows.h>

namespace kestal::win32 {

// Appends "About kestal..." (IDM_ABOUT) to `window`'s system menu.
void AddAboutToSystemMenu(HINSTANCE instance, HWND window);
// Shows the About box over `owner` until it is closed.
void ShowAboutBox(HINSTANCE instance, HWND owner);

}  // namespace kestal::win32

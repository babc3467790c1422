#pragma once
// The About box, which the system menu's "About kestal..." and F1 open.
#include <windows.h>

namespace kestal::win32 {

// Shows the About box over `owner` until it is closed.
void ShowAboutBox(HINSTANCE instance, HWND owner);

}  // namespace kestal::win32

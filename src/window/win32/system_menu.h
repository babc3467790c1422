#pragma once
// The window's system menu carries its tools and its About entry: the dialog has no menu bar,
// and the tools stay out of a transfer's way there.
#include <windows.h>

namespace kestal::win32 {

// Appends "Check Port..." (IDM_CHECK_PORT) and "Record Next Transfer..." (IDM_RECORD), then
// "About kestal..." (IDM_ABOUT) last, in the user interface's language.
void AddSystemMenuEntries(HINSTANCE instance, HWND window);
// Greys or enables an entry of `window`'s system menu, by command id.
void EnableSystemMenuEntry(HWND window, UINT command, bool enabled);
// Sets or clears an entry's check mark.
void CheckSystemMenuEntry(HWND window, UINT command, bool checked);

}  // namespace kestal::win32

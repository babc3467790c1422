#pragma once
// What the shell and the device manager tell a top-level window: files dropped on it, and
// devices that came or went.
#include <windows.h>

#include <string>
#include <vector>

namespace kestal::win32 {

// The full paths of a WM_DROPFILES drop, UTF-8, in the shell's order; the drop is released.
std::vector<std::string> TakeDroppedFiles(HDROP drop);

// A WM_DEVICECHANGE that may mean other serial ports: a port or device interface arrived or
// was removed, or the device tree changed.
bool MayChangePorts(WPARAM event, LPARAM data);

}  // namespace kestal::win32

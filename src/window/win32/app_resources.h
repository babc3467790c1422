#pragma once
// The program's own resources: texts of its string table and its icon, at the sizes a
// window's DPI asks for.
#include <windows.h>

#include <string>

namespace kestal::win32 {

// The string `id` in the user interface's language, UTF-8; empty when there is none.
std::string ResourceText(HINSTANCE instance, UINT id);

// The DPI of the monitor `window` is on (per monitor where Windows tells it, 10 1607 on).
UINT WindowDpi(HWND window);

// The application icon set on a window, big and small, at the sizes of its DPI.
class AppIcons {
 public:
  AppIcons() = default;
  ~AppIcons() { Release(); }
  AppIcons(const AppIcons&) = delete;
  AppIcons& operator=(const AppIcons&) = delete;

  // Loads the icon at `dpi`'s sizes and sets it on `window`; the ones it replaces are freed.
  void Apply(HINSTANCE instance, HWND window, UINT dpi);

 private:
  void Release();

  HICON big_ = nullptr;
  HICON small_ = nullptr;
};

}  // namespace kestal::win32

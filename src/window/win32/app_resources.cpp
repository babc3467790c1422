#include "window/win32/app_resources.h"

#include "common/utf16.h"
#include "window/win32/resource_ids.h"

namespace kestal::win32 {
namespace {

// Functions newer than Windows 7 are looked up, so the program still starts there.
template <typename Function>
Function User32Function(const char* name) {
  return reinterpret_cast<Function>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), name)));
}

int MetricForDpi(int index, UINT dpi) {
  using ForDpi = int(WINAPI*)(int, UINT);
  static const auto forDpi = User32Function<ForDpi>("GetSystemMetricsForDpi");
  return forDpi ? forDpi(index, dpi) : GetSystemMetrics(index);
}

HICON LoadAppIcon(HINSTANCE instance, int size) {
  return static_cast<HICON>(
      LoadImageW(instance, MAKEINTRESOURCEW(IDI_APP), IMAGE_ICON, size, size, LR_DEFAULTCOLOR));
}

}  // namespace

std::string ResourceText(HINSTANCE instance, UINT id) {
  const wchar_t* text = nullptr;
  // With no buffer, LoadStringW hands out the resource's own text, not terminated.
  const int length = LoadStringW(instance, id, reinterpret_cast<wchar_t*>(&text), 0);
  return length > 0 ? WideToUtf8(std::wstring_view(text, static_cast<size_t>(length))) : "";
}

UINT WindowDpi(HWND window) {
  using DpiForWindow = UINT(WINAPI*)(HWND);
  static const auto forWindow = User32Function<DpiForWindow>("GetDpiForWindow");
  if (forWindow) return forWindow(window);
  const HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSX);
  ReleaseDC(nullptr, screen);
  return static_cast<UINT>(dpi);
}

void AppIcons::Apply(HINSTANCE instance, HWND window, UINT dpi) {
  const HICON bigIcon = LoadAppIcon(instance, MetricForDpi(SM_CXICON, dpi));
  const HICON smallIcon = LoadAppIcon(instance, MetricForDpi(SM_CXSMICON, dpi));
  SendMessageW(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(bigIcon));
  SendMessageW(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon));
  Release();
  big_ = bigIcon;
  small_ = smallIcon;
}

void AppIcons::Release() {
  if (big_) DestroyIcon(big_);
  if (small_) DestroyIcon(small_);
  big_ = small_ = nullptr;
}

}  // namespace kestal::win32

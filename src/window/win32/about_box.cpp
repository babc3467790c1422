#include "window/win32/about_box.h"

#include "common/utf16.h"
#include "window/win32/app_resources.h"
#include "window/win32/resource_ids.h"

namespace kestal::win32 {
namespace {

INT_PTR CALLBACK AboutProc(HWND box, UINT message, WPARAM wParam, LPARAM) {
  if (message == WM_INITDIALOG) return TRUE;
  if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
    EndDialog(box, LOWORD(wParam));
    return TRUE;
  }
  return FALSE;
}

}  // namespace

void AddAboutToSystemMenu(HINSTANCE instance, HWND window) {
  const HMENU menu = GetSystemMenu(window, FALSE);
  if (!menu) return;
  const std::wstring text = Utf8ToWide(ResourceText(instance, IDS_ABOUT_MENU));
  AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
  AppendMenuW(menu, MF_STRING, IDM_ABOUT, text.c_str());
}

void ShowAboutBox(HINSTANCE instance, HWND owner) {
  DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_ABOUT), owner, AboutProc, 0);
}

}  // namespace kestal::win32

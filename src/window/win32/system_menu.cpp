#include "window/win32/system_menu.h"

#include "common/utf16.h"
#include "window/win32/app_resources.h"
#include "window/win32/resource_ids.h"

namespace kestal::win32 {
namespace {

void AppendEntry(HMENU menu, HINSTANCE instance, UINT command, UINT textId) {
  const std::wstring text = Utf8ToWide(ResourceText(instance, textId));
  AppendMenuW(menu, MF_STRING, command, text.c_str());
}

}  // namespace

void AddSystemMenuEntries(HINSTANCE instance, HWND window) {
  const HMENU menu = GetSystemMenu(window, FALSE);
  if (!menu) return;
  AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
  AppendEntry(menu, instance, IDM_CHECK_PORT, IDS_CHECK_PORT_MENU);
  AppendEntry(menu, instance, IDM_RECORD, IDS_RECORD_MENU);
  AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
  AppendEntry(menu, instance, IDM_ABOUT, IDS_ABOUT_MENU);
}

void EnableSystemMenuEntry(HWND window, UINT command, bool enabled) {
  if (const HMENU menu = GetSystemMenu(window, FALSE))
    EnableMenuItem(menu, command, MF_BYCOMMAND | (enabled ? MF_ENABLED : MF_GRAYED));
}

void CheckSystemMenuEntry(HWND window, UINT command, bool checked) {
  if (const HMENU menu = GetSystemMenu(window, FALSE))
    CheckMenuItem(menu, command, MF_BYCOMMAND | (checked ? MF_CHECKED : MF_UNCHECKED));
}

}  // namespace kestal::win32

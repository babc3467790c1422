#include "window/win32/dialog_controls.h"

#include <commctrl.h>

#include <algorithm>

#include "common/utf16.h"

namespace kestal::win32 {
namespace {

std::wstring WindowText(HWND window) {
  std::wstring text(static_cast<size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
  text.resize(
      static_cast<size_t>(GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
  return text;
}

std::wstring ItemText(HWND list, int index) {
  const LRESULT length = SendMessageW(list, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
  if (length == CB_ERR) return {};
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  const LRESULT got = SendMessageW(list, CB_GETLBTEXT, static_cast<WPARAM>(index),
                                   reinterpret_cast<LPARAM>(text.data()));
  text.resize(got == CB_ERR ? 0 : static_cast<size_t>(got));
  return text;
}

}  // namespace

std::string DialogControls::Text(int id) const { return WideToUtf8(WindowText(Control(id))); }

void DialogControls::SetText(int id, std::string_view text) {
  const HWND control = Control(id);
  const std::wstring wide = Utf8ToWide(text);
  if (WindowText(control) != wide) SetWindowTextW(control, wide.c_str());
}

bool DialogControls::Enabled(int id) const { return IsWindowEnabled(Control(id)) != FALSE; }

void DialogControls::Enable(int id, bool enable) {
  const HWND control = Control(id);
  if (Enabled(id) == enable) return;
  // A control that had the focus keeps the keyboard's place: it moves on before it goes grey.
  if (!enable && GetFocus() == control) SendMessageW(dialog_, WM_NEXTDLGCTL, 0, FALSE);
  EnableWindow(control, enable);
}

bool DialogControls::Checked(int id) const {
  return SendMessageW(Control(id), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void DialogControls::SetChecked(int id, bool checked) {
  SendMessageW(Control(id), BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

std::vector<std::string> DialogControls::Items(int id) const {
  const HWND list = Control(id);
  const LRESULT count = SendMessageW(list, CB_GETCOUNT, 0, 0);
  std::vector<std::string> items;
  for (int index = 0; index < count; ++index) items.push_back(WideToUtf8(ItemText(list, index)));
  return items;
}

// Entries go in by position: the list shows them in the order given.
void DialogControls::SetItems(int id, const std::vector<std::string>& items) {
  if (Items(id) == items) return;
  const HWND list = Control(id);
  SendMessageW(list, CB_RESETCONTENT, 0, 0);
  for (size_t index = 0; index < items.size(); ++index) {
    const std::wstring text = Utf8ToWide(items[index]);
    SendMessageW(list, CB_INSERTSTRING, index, reinterpret_cast<LPARAM>(text.c_str()));
  }
}

int DialogControls::Selection(int id) const {
  const LRESULT index = SendMessageW(Control(id), CB_GETCURSEL, 0, 0);
  return index == CB_ERR ? -1 : static_cast<int>(index);
}

void DialogControls::Select(int id, int index) {
  SendMessageW(Control(id), CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

void DialogControls::FitListWidth(int id) {
  const HWND list = Control(id);
  const HDC context = GetDC(list);
  const HGDIOBJ oldFont =
      SelectObject(context, reinterpret_cast<HFONT>(SendMessageW(list, WM_GETFONT, 0, 0)));
  LONG widest = 0;
  for (const std::string& item : Items(id)) {
    const std::wstring text = Utf8ToWide(item);
    SIZE size{};
    GetTextExtentPoint32W(context, text.c_str(), static_cast<int>(text.size()), &size);
    widest = std::max(widest, size.cx);
  }
  SelectObject(context, oldFont);
  ReleaseDC(list, context);
  RECT box{};
  GetWindowRect(list, &box);
  const LONG margins = 2 * GetSystemMetrics(SM_CXEDGE) + GetSystemMetrics(SM_CXVSCROLL);
  SendMessageW(list, CB_SETDROPPEDWIDTH, std::max(widest + margins, box.right - box.left), 0);
}

void DialogControls::SetProgress(int id, int percent) {
  SendMessageW(Control(id), PBM_SETPOS, static_cast<WPARAM>(percent), 0);
}

}  // namespace kestal::win32

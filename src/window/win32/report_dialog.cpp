#include "window/win32/report_dialog.h"

#include <cstring>

#include "common/utf16.h"
#include "window/win32/app_resources.h"
#include "window/win32/resource_ids.h"

namespace kestal::win32 {
namespace {

constexpr int kFontPoints = 9;

struct Report {
  std::wstring title;
  std::wstring text;  // with "\r\n": what the edit control and the clipboard expect
  HFONT font = nullptr;
};

std::wstring WithWindowsLineEnds(const std::string& text) {
  std::wstring lines;
  for (const wchar_t c : Utf8ToWide(text)) {
    if (c == L'\r') continue;
    if (c == L'\n') lines += L'\r';
    lines += c;
  }
  return lines;
}

// Consolas where Windows has it; otherwise whatever fixed-pitch face the font mapper offers.
HFONT FixedFont(HWND box) {
  LOGFONTW font{};
  font.lfHeight = -MulDiv(kFontPoints, static_cast<int>(WindowDpi(box)), 72);
  font.lfCharSet = DEFAULT_CHARSET;
  font.lfPitchAndFamily = FIXED_PITCH | FF_MODERN;
  std::wcscpy(font.lfFaceName, L"Consolas");
  return CreateFontIndirectW(&font);
}

bool CopyToClipboard(HWND owner, const std::wstring& text) {
  const size_t bytes = (text.size() + 1) * sizeof(wchar_t);
  const HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes);
  if (!memory) return false;
  std::memcpy(GlobalLock(memory), text.c_str(), bytes);
  GlobalUnlock(memory);
  bool placed = false;
  if (OpenClipboard(owner)) {
    EmptyClipboard();
    placed = SetClipboardData(CF_UNICODETEXT, memory) != nullptr;  // the clipboard owns it now
    CloseClipboard();
  }
  if (!placed) GlobalFree(memory);
  return placed;
}

void ShowText(HWND box, Report& report) {
  SetWindowTextW(box, report.title.c_str());
  report.font = FixedFont(box);
  SendDlgItemMessageW(box, IDC_REPORT_TEXT, WM_SETFONT, reinterpret_cast<WPARAM>(report.font),
                      FALSE);
  SetDlgItemTextW(box, IDC_REPORT_TEXT, report.text.c_str());
}

INT_PTR CALLBACK ReportProc(HWND box, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    SetWindowLongPtrW(box, DWLP_USER, lParam);
    ShowText(box, *reinterpret_cast<Report*>(lParam));
    SetFocus(GetDlgItem(box, IDOK));  // not the text, which would show all of it selected
    return FALSE;
  }
  if (message != WM_COMMAND) return FALSE;
  const auto* report = reinterpret_cast<Report*>(GetWindowLongPtrW(box, DWLP_USER));
  switch (LOWORD(wParam)) {
    case IDC_REPORT_COPY:
      if (!CopyToClipboard(box, report->text)) MessageBeep(MB_ICONWARNING);
      return TRUE;
    case IDOK:
    case IDCANCEL:
      EndDialog(box, LOWORD(wParam));
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace

void ShowReportDialog(HINSTANCE instance, HWND owner, const std::string& title,
                      const std::string& text) {
  Report report{Utf8ToWide(title), WithWindowsLineEnds(text)};
  DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_REPORT), owner, ReportProc,
                  reinterpret_cast<LPARAM>(&report));
  if (report.font) DeleteObject(report.font);
}

}  // namespace kestal::win32

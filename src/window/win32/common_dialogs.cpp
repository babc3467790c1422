#include "window/win32/common_dialogs.h"

#include <commdlg.h>

#include <algorithm>

#include "common/utf16.h"

namespace kestal::win32 {
namespace {

// Room for the longest path Windows knows (\\?\ paths), not just MAX_PATH.
constexpr size_t kPathRoom = 32768;

// "Name|pattern|...||" as the dialog wants it: NUL separated, two NULs at the end.
std::wstring FilterList(std::string_view filter) {
  std::wstring list = Utf8ToWide(filter);
  std::replace(list.begin(), list.end(), L'|', L'\0');
  list.append(2, L'\0');
  return list;
}

std::optional<std::wstring> RunFileDialog(HWND owner, const FileDialogRequest& request,
                                          const std::wstring& initialName) {
  const std::wstring filter = FilterList(request.filter);
  const std::wstring extension = Utf8ToWide(request.defaultExtension);
  std::wstring path(kPathRoom, L'\0');
  std::copy_n(initialName.begin(), std::min(initialName.size(), kPathRoom - 1), path.begin());

  OPENFILENAMEW dialog{};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = owner;
  dialog.lpstrFilter = filter.c_str();
  dialog.nFilterIndex = 1;
  dialog.lpstrFile = path.data();
  dialog.nMaxFile = static_cast<DWORD>(path.size());
  dialog.lpstrDefExt = extension.empty() ? nullptr : extension.c_str();
  // The current directory stays where it was: relative paths elsewhere keep their meaning.
  dialog.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_SHAREAWARE | OFN_PATHMUSTEXIST |
                 OFN_NOCHANGEDIR | (request.saveAs ? 0 : OFN_FILEMUSTEXIST) |
                 (request.saveAs && request.confirmOverwrite ? OFN_OVERWRITEPROMPT : 0);
  const BOOL chosen = request.saveAs ? GetSaveFileNameW(&dialog) : GetOpenFileNameW(&dialog);
  if (!chosen) return std::nullopt;
  path.resize(path.find(L'\0'));
  return path;
}

}  // namespace

std::optional<std::string> AskFileName(HWND owner, const FileDialogRequest& request) {
  std::optional<std::wstring> path = RunFileDialog(owner, request, Utf8ToWide(request.initialPath));
  // A stored path the dialog cannot start from (a folder gone, a name Windows refuses) must
  // not keep the user from choosing: start again without it.
  if (!path && CommDlgExtendedError() == FNERR_INVALIDFILENAME)
    path = RunFileDialog(owner, request, std::wstring());
  if (!path) return std::nullopt;
  return WideToUtf8(*path);
}

void ShowMessage(HWND owner, std::string_view text, std::string_view caption) {
  const std::wstring wideText = Utf8ToWide(text);
  const std::wstring wideCaption = Utf8ToWide(caption);
  MessageBoxW(owner, wideText.c_str(), caption.empty() ? nullptr : wideCaption.c_str(), MB_OK);
}

}  // namespace kestal::win32

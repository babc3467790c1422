#pragma once
// The dialog's controls by id, read and written as plain values (UTF-8 texts, indexes,
// flags). Writing what a control already shows changes nothing on screen, so a refresh of the
// whole window neither flickers nor moves the caret of the field being typed in. Selections
// and checks made here send no notification: only the user's own changes reach WindowEvents.
#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

namespace kestal::win32 {

class DialogControls {
 public:
  void Attach(HWND dialog) { dialog_ = dialog; }

  std::string Text(int id) const;
  void SetText(int id, std::string_view text);

  bool Enabled(int id) const;
  void Enable(int id, bool enable);

  // Radio buttons and check boxes.
  bool Checked(int id) const;
  void SetChecked(int id, bool checked);

  // Drop-down lists: the entries in the order given, and the selected one (-1: none).
  std::vector<std::string> Items(int id) const;
  void SetItems(int id, const std::vector<std::string>& items);
  int Selection(int id) const;
  void Select(int id, int index);
  // The open list as wide as its longest entry, and never narrower than the closed box.
  void FitListWidth(int id);

  // The progress bar, 0 to 100.
  void SetProgress(int id, int percent);

 private:
  HWND Control(int id) const { return GetDlgItem(dialog_, id); }

  HWND dialog_ = nullptr;
};

}  // namespace kestal::win32

// Drives the Kestal window from outside, as a person would, for scripts/test-windows.sh.
// Usage: kestal-dialog-driver STEP...; the steps run in order, each on the window found first:
//   controls          print each control: id, class, state, text, list entries
//   click ID          press a button
//   select ID INDEX   choose a list entry as the user does (the window is told)
//   set ID TEXT       replace a control's text
//   about             open the About box from the system menu, print it, close it with OK
//   close             ask the window to close and wait until it is gone
// Exit status 0, or 1 after the first step that failed (its reason on stderr).
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "window/win32/command_line.h"
#include "window/win32/wide_text.h"

namespace {

using kestal::win32::Utf8ToWide;
using kestal::win32::WideToUtf8;

constexpr DWORD kPatienceMs = 30000;  // Wine starting a program on a busy machine is slow

struct Failure {
  std::string reason;
};

void Say(const std::string& line) {
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

std::string ClassOf(HWND window) {
  wchar_t name[64] = {};
  GetClassNameW(window, name, 64);
  return WideToUtf8(name);
}

std::string TextOf(HWND window) {
  std::wstring text(static_cast<size_t>(SendMessageW(window, WM_GETTEXTLENGTH, 0, 0)) + 1, L'\0');
  text.resize(static_cast<size_t>(
      SendMessageW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()))));
  return WideToUtf8(text);
}

template <typename Found>
HWND WaitFor(const char* what, Found found) {
  const DWORD start = GetTickCount();
  while (GetTickCount() - start < kPatienceMs) {
    if (const HWND window = found()) return window;
    Sleep(100);
  }
  throw Failure{std::string("no ") + what + " after 30 s"};
}

// A top-level dialog of the caption given (any letter case), owned by `owner` when not null.
HWND FindDialog(const std::wstring& caption, HWND owner) {
  struct Search {
    const std::wstring& caption;
    HWND owner;
    HWND found;
  } search{caption, owner, nullptr};
  EnumWindows(
      [](HWND window, LPARAM data) -> BOOL {
        auto& s = *reinterpret_cast<Search*>(data);
        if (ClassOf(window) != "#32770" || !IsWindowVisible(window)) return TRUE;
        if (s.owner && GetWindow(window, GW_OWNER) != s.owner) return TRUE;
        if (!s.caption.empty() && lstrcmpiW(Utf8ToWide(TextOf(window)).c_str(), s.caption.c_str()))
          return TRUE;
        s.found = window;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

HWND Control(HWND dialog, const std::string& id) {
  const HWND control = GetDlgItem(dialog, std::stoi(id));
  if (!control) throw Failure{"no control " + id};
  return control;
}

std::string ListEntries(HWND list) {
  std::string entries;
  const LRESULT count = SendMessageW(list, CB_GETCOUNT, 0, 0);
  for (int index = 0; index < count; ++index) {
    std::wstring text(static_cast<size_t>(SendMessageW(list, CB_GETLBTEXTLEN, index, 0)) + 1,
                      L'\0');
    text.resize(static_cast<size_t>(
        SendMessageW(list, CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(text.data()))));
    if (index) entries += '|';
    entries += WideToUtf8(text);
  }
  return " [" + entries + "] selected " + std::to_string(SendMessageW(list, CB_GETCURSEL, 0, 0));
}

// Where a control sits: shown, of some size, inside the window's client area.
std::string Placement(HWND dialog, HWND control) {
  RECT client, rect;
  GetClientRect(dialog, &client);
  GetWindowRect(control, &rect);
  MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
  if (!IsWindowVisible(control)) return "hidden";
  if (rect.right <= rect.left || rect.bottom <= rect.top) return "empty";
  if (rect.left < 0 || rect.top < 0 || rect.right > client.right || rect.bottom > client.bottom)
    return "outside";
  return "shown";
}

void PrintControls(HWND dialog) {
  for (HWND control = GetWindow(dialog, GW_CHILD); control;
       control = GetWindow(control, GW_HWNDNEXT)) {
    const std::string kind = ClassOf(control);
    std::string line = std::to_string(GetDlgCtrlID(control)) + " " + kind + " " +
                       Placement(dialog, control) + (IsWindowEnabled(control) ? "" : " disabled");
    if (kind == "Button" && SendMessageW(control, BM_GETCHECK, 0, 0) == BST_CHECKED)
      line += " checked";
    const bool icon =
        kind == "Static" && (GetWindowLongW(control, GWL_STYLE) & SS_TYPEMASK) == SS_ICON;
    line += icon ? " (icon)" : " \"" + TextOf(control) + "\"";
    if (kind == "ComboBox") line += ListEntries(control);
    Say(line);
  }
}

void WaitGone(HWND window, const char* what) {
  WaitFor(what, [&] { return IsWindow(window) ? nullptr : window; });
}

void PressKey(HWND window, WPARAM key) {
  PostMessageW(window, WM_KEYDOWN, key, 1);
  PostMessageW(window, WM_KEYUP, key, 0xC0000001);
}

// The system menu opened from the keyboard (Alt+Space), its last entry chosen (Wine adds an
// "About Wine" of its own, with the same key letter).
void RunAbout(HWND dialog) {
  SetForegroundWindow(dialog);
  PostMessageW(dialog, WM_SYSCOMMAND, SC_KEYMENU, ' ');
  WaitFor("system menu", [] { return FindWindowW(L"#32768", nullptr); });
  PressKey(dialog, VK_END);
  PressKey(dialog, VK_RETURN);
  const HWND about = WaitFor("About box", [&] { return FindDialog(L"", dialog); });
  Say("about \"" + TextOf(about) + "\"");
  PrintControls(about);
  PostMessageW(Control(about, std::to_string(IDOK)), BM_CLICK, 0, 0);
  WaitGone(about, "end of the About box");
}

// Runs the steps from `next` on; returns the index after the last argument used.
size_t RunStep(HWND dialog, const std::vector<std::string>& args, size_t next) {
  const std::string& step = args[next++];
  auto argument = [&] {
    if (next >= args.size()) throw Failure{step + ": an argument is missing"};
    return args[next++];
  };
  if (step == "controls") {
    PrintControls(dialog);
  } else if (step == "click") {
    PostMessageW(Control(dialog, argument()), BM_CLICK, 0, 0);
  } else if (step == "select") {
    const std::string id = argument();
    const HWND list = Control(dialog, id);
    SendMessageW(list, CB_SETCURSEL, std::stoi(argument()), 0);
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(std::stoi(id), CBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(list));
  } else if (step == "set") {
    const HWND control = Control(dialog, argument());
    const std::wstring text = Utf8ToWide(argument());
    SendMessageW(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
  } else if (step == "about") {
    RunAbout(dialog);
  } else if (step == "close") {
    PostMessageW(dialog, WM_CLOSE, 0, 0);
    WaitGone(dialog, "end of the window");
  } else {
    throw Failure{"unknown step " + step};
  }
  return next;
}

}  // namespace

int main() {
  _setmode(_fileno(stdout), _O_BINARY);  // UTF-8 as it is, lines ending in \n
  const std::vector<std::string> args = kestal::win32::CommandLineArguments();
  try {
    const HWND dialog = WaitFor("Kestal window", [] { return FindDialog(L"kestal", nullptr); });
    for (size_t next = 0; next < args.size();) next = RunStep(dialog, args, next);
  } catch (const Failure& failure) {
    std::fprintf(stderr, "kestal-dialog-driver: %s\n", failure.reason.c_str());
    return 1;
  } catch (const std::exception& error) {  // a control id that is not a number
    std::fprintf(stderr, "kestal-dialog-driver: %s\n", error.what());
    return 1;
  }
  return 0;
}

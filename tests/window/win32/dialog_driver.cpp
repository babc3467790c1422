// Drives the Kestal window from outside, as a person would, for scripts/test-windows-window.sh.
// Usage: kestal-dialog-driver STEP...; the steps run in order, each on the window found first:
//   controls          print each control: id, class, state, text, list entries
//   click ID          press a button
//   select ID INDEX   choose a list entry as the user does (the window is told)
//   choose ID TEXT    the same, by the entry's text
//   set ID TEXT       replace a control's text
//   file NAME         press "File" and answer the file dialog with NAME
//   record NAME       choose "Record Next Transfer..." in the system menu and answer its save
//                     dialog with NAME; a question whether to replace NAME is printed and
//                     answered with Yes
//   check             choose "Check Port..." in the system menu
//   report            wait for the report dialog, print its caption and text, press Copy (the
//                     clipboard must then hold the text), close it with OK
//   box               wait for a message box over the window, print it, close it with OK
//   area              print the window's client area on the screen: left top width height
//   wait ID TEXT      until the control shows TEXT (a list: its selected entry)
//   has ID TEXT       until the list has an entry TEXT; lacks ID TEXT: until it has none
//   drop PATH|PATH    drop files on the window, as the shell hands them over
//   plug COMn         a serial port arrives (the device map and the notice Windows sends)
//   unplug            ... and goes
//   settings          print the settings the window keeps in the registry
//   about             open the About box from the system menu, print it, close it with OK
//   close             ask the window to close and wait until it is gone
// Exit status 0, or 1 after the first step that failed (its reason on stderr).
#include <fcntl.h>
#include <io.h>
#include <windows.h>
// After windows.h, which they need.
#include <dbt.h>
#include <shlobj.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "common/utf16.h"
#include "window/win32/command_line.h"
#include "window/win32/resource_ids.h"

namespace {

using kestal::Utf8ToWide;
using kestal::WideToUtf8;

constexpr DWORD kPatienceMs = 30000;  // Wine starting a program on a busy machine is slow
constexpr int kFileNameBox = 0x47C;   // cmb13: the file dialogs' name field
constexpr wchar_t kDeviceMap[] = L"HARDWARE\\DEVICEMAP\\SERIALCOMM";
constexpr wchar_t kTestDevice[] = L"\\Device\\KestalTest";
constexpr wchar_t kSettingsKey[] = L"SOFTWARE\\ostrel\\pelmar\\General";

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
  throw Failure{std::string(what) + ": not after 30 s"};
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

std::vector<std::string> Entries(HWND list) {
  std::vector<std::string> entries;
  const LRESULT count = SendMessageW(list, CB_GETCOUNT, 0, 0);
  for (int index = 0; index < count; ++index) {
    std::wstring text(static_cast<size_t>(SendMessageW(list, CB_GETLBTEXTLEN, index, 0)) + 1,
                      L'\0');
    text.resize(static_cast<size_t>(
        SendMessageW(list, CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(text.data()))));
    entries.push_back(WideToUtf8(text));
  }
  return entries;
}

std::string ListEntries(HWND list) {
  std::string joined;
  for (const std::string& entry : Entries(list)) joined += (joined.empty() ? "" : "|") + entry;
  return " [" + joined + "] selected " + std::to_string(SendMessageW(list, CB_GETCURSEL, 0, 0));
}

// What a control shows: a list its selected entry, anything else its text.
std::string Shown(HWND control) {
  if (ClassOf(control) != "ComboBox") return TextOf(control);
  const std::vector<std::string> entries = Entries(control);
  const auto selected = static_cast<size_t>(SendMessageW(control, CB_GETCURSEL, 0, 0));
  return selected < entries.size() ? entries[selected] : "";
}

bool HasEntry(HWND list, const std::string& text) {
  for (const std::string& entry : Entries(list))
    if (entry == text) return true;
  return false;
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
  WaitFor("the system menu", [] { return FindWindowW(L"#32768", nullptr); });
  PressKey(dialog, VK_END);
  PressKey(dialog, VK_RETURN);
  const HWND about = WaitFor("the About box", [&] { return FindDialog(L"", dialog); });
  Say("about \"" + TextOf(about) + "\"");
  PrintControls(about);
  PostMessageW(Control(about, std::to_string(IDOK)), BM_CLICK, 0, 0);
  WaitGone(about, "the About box closed");
}

// Polls `holds` until it is true; the failure names what the control showed last.
template <typename Holds>
void Await(HWND control, const std::string& what, Holds holds) {
  const DWORD start = GetTickCount();
  while (!holds()) {
    if (GetTickCount() - start > kPatienceMs)
      throw Failure{what + ": not after 30 s; it shows \"" + Shown(control) + "\"" +
                    ListEntries(control)};
    Sleep(100);
  }
}

void ChooseEntry(HWND dialog, HWND list, int index) {
  SendMessageW(list, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
  PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(list), CBN_SELCHANGE),
               reinterpret_cast<LPARAM>(list));
}

// A box's caption and text, on one line.
std::string BoxText(HWND box) {
  std::string text = "\"" + TextOf(box) + "\"";
  for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
    if (ClassOf(child) == "Static" && !TextOf(child).empty()) text += " \"" + TextOf(child) + "\"";
  std::replace(text.begin(), text.end(), '\n', ' ');
  std::erase(text, '\r');
  return text;
}

// The file dialog `open` brings up, answered with `name` typed into its name field; a question
// over it (replace the file?) is printed and answered with Yes.
void AnswerFileDialog(HWND dialog, void (*open)(HWND), const std::string& name) {
  open(dialog);
  const HWND files = WaitFor("the file dialog", [&] { return FindDialog(L"", dialog); });
  const std::wstring text = Utf8ToWide(name);
  SendDlgItemMessageW(files, kFileNameBox, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
  PostMessageW(files, WM_COMMAND, IDOK, 0);
  WaitFor("the file dialog closed", [&]() -> HWND {
    if (const HWND question = FindDialog(L"", files)) {
      Say("asked " + BoxText(question));
      PostMessageW(question, WM_COMMAND, IDYES, 0);
    }
    return IsWindow(files) ? nullptr : files;
  });
}

void PressFileButton(HWND dialog) { PostMessageW(Control(dialog, "1003"), BM_CLICK, 0, 0); }
void ChooseRecordEntry(HWND dialog) { PostMessageW(dialog, WM_SYSCOMMAND, IDM_RECORD, 0); }

std::wstring ClipboardText(HWND owner) {
  std::wstring text;
  if (!OpenClipboard(owner)) return text;
  if (const HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
    text = static_cast<const wchar_t*>(GlobalLock(data));
    GlobalUnlock(data);
  }
  CloseClipboard();
  return text;
}

// The report as it shows, lines ending in "\r\n"; the text printed ends its lines in "\n".
void CheckReport(HWND dialog) {
  const HWND report = WaitFor("the report", [&] { return FindDialog(L"", dialog); });
  const HWND view = Control(report, std::to_string(IDC_REPORT_TEXT));
  const std::wstring shown = Utf8ToWide(TextOf(view));
  Say("report \"" + TextOf(report) + "\"");
  std::string printed = WideToUtf8(shown);
  for (size_t cr; (cr = printed.find('\r')) != std::string::npos;) printed.erase(cr, 1);
  std::fwrite(printed.data(), 1, printed.size(), stdout);
  if (shown.find(L'\n') == std::wstring::npos || shown.find(L"\r\n") == std::wstring::npos)
    throw Failure{"the report's lines do not end in CR LF"};
  SendMessageW(Control(report, std::to_string(IDC_REPORT_COPY)), BM_CLICK, 0, 0);
  if (ClipboardText(nullptr) != shown)
    throw Failure{"Copy did not put the report on the clipboard"};
  PostMessageW(Control(report, std::to_string(IDOK)), BM_CLICK, 0, 0);
  WaitGone(report, "the report closed");
}

void CloseBox(HWND dialog) {
  const HWND box = WaitFor("a message box", [&] { return FindDialog(L"", dialog); });
  Say("box " + BoxText(box));
  PostMessageW(box, WM_COMMAND, IDOK, 0);
  WaitGone(box, "the message box closed");
}

// What the shell hands a window that accepts files: a DROPFILES block with the wide names,
// two NULs at the end, in the window's own memory.
void DropFiles(HWND dialog, const std::vector<std::string>& paths) {
  std::vector<wchar_t> names;
  for (const std::string& path : paths) {
    const std::wstring wide = Utf8ToWide(path);
    names.insert(names.end(), wide.begin(), wide.end());
    names.push_back(L'\0');
  }
  names.push_back(L'\0');
  std::vector<char> block(sizeof(DROPFILES) + names.size() * sizeof(wchar_t));
  DROPFILES header{};
  header.pFiles = sizeof(DROPFILES);
  header.fWide = TRUE;
  std::memcpy(block.data(), &header, sizeof header);
  std::memcpy(block.data() + sizeof header, names.data(), names.size() * sizeof(wchar_t));

  DWORD processId = 0;
  GetWindowThreadProcessId(dialog, &processId);
  const HANDLE process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_WRITE, FALSE, processId);
  void* memory = process ? VirtualAllocEx(process, nullptr, block.size(), MEM_COMMIT | MEM_RESERVE,
                                          PAGE_READWRITE)
                         : nullptr;
  const bool written =
      memory && WriteProcessMemory(process, memory, block.data(), block.size(), nullptr);
  if (process) CloseHandle(process);
  if (!written) throw Failure{"drop: cannot reach the window's memory"};
  PostMessageW(dialog, WM_DROPFILES, reinterpret_cast<WPARAM>(memory), 0);
}

// A port in the device map, or none, and the notice Windows sends every top-level window.
void ChangePorts(HWND dialog, const std::string& comName) {
  HKEY map = nullptr;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kDeviceMap, 0, nullptr, REG_OPTION_VOLATILE,
                      KEY_SET_VALUE, nullptr, &map, nullptr) != ERROR_SUCCESS)
    throw Failure{"cannot open the serial device map"};
  const std::wstring name = Utf8ToWide(comName);
  if (name.empty())
    RegDeleteValueW(map, kTestDevice);
  else
    RegSetValueExW(map, kTestDevice, 0, REG_SZ, reinterpret_cast<const BYTE*>(name.c_str()),
                   static_cast<DWORD>((name.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(map);
  SendMessageTimeoutW(dialog, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0, SMTO_ABORTIFHUNG,
                      kPatienceMs, nullptr);
}

// The window's values under HKEY_CURRENT_USER, one line each; "(none)" for one not there.
void PrintSettings() {
  for (const wchar_t* name : {L"port", L"mode", L"softfile", L"chfile"}) {
    std::string line = WideToUtf8(name) + "=";
    DWORD type = 0;
    BYTE data[4096] = {};
    DWORD size = sizeof data - sizeof(wchar_t);
    if (RegGetValueW(HKEY_CURRENT_USER, kSettingsKey, name, RRF_RT_ANY | RRF_NOEXPAND, &type, data,
                     &size) != ERROR_SUCCESS)
      line += "(none)";
    else if (type == REG_DWORD)
      line += std::to_string(*reinterpret_cast<DWORD*>(data));
    else
      line += WideToUtf8(reinterpret_cast<wchar_t*>(data));
    Say(line);
  }
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
    const HWND list = Control(dialog, argument());
    ChooseEntry(dialog, list, std::stoi(argument()));
  } else if (step == "choose") {
    const HWND list = Control(dialog, argument());
    const std::wstring text = Utf8ToWide(argument());
    const LRESULT index = SendMessageW(list, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                       reinterpret_cast<LPARAM>(text.c_str()));
    if (index == CB_ERR) throw Failure{"no entry " + WideToUtf8(text) + ListEntries(list)};
    ChooseEntry(dialog, list, static_cast<int>(index));
  } else if (step == "file") {
    AnswerFileDialog(dialog, PressFileButton, argument());
  } else if (step == "record") {
    AnswerFileDialog(dialog, ChooseRecordEntry, argument());
  } else if (step == "check") {
    PostMessageW(dialog, WM_SYSCOMMAND, IDM_CHECK_PORT, 0);
  } else if (step == "report") {
    CheckReport(dialog);
  } else if (step == "box") {
    CloseBox(dialog);
  } else if (step == "area") {
    RECT area;
    GetClientRect(dialog, &area);
    MapWindowPoints(dialog, nullptr, reinterpret_cast<POINT*>(&area), 2);
    Say(std::to_string(area.left) + " " + std::to_string(area.top) + " " +
        std::to_string(area.right - area.left) + " " + std::to_string(area.bottom - area.top));
  } else if (step == "wait" || step == "has" || step == "lacks") {
    const HWND control = Control(dialog, argument());
    const std::string text = argument();
    Await(control, step + " " + text, [&] {
      if (step == "wait") return Shown(control) == text;
      return HasEntry(control, text) == (step == "has");
    });
  } else if (step == "drop") {
    std::vector<std::string> paths;
    std::string list = argument();
    for (size_t bar; (bar = list.find('|')) != std::string::npos; list.erase(0, bar + 1))
      paths.push_back(list.substr(0, bar));
    paths.push_back(list);
    DropFiles(dialog, paths);
  } else if (step == "plug") {
    ChangePorts(dialog, argument());
  } else if (step == "unplug") {
    ChangePorts(dialog, "");
  } else if (step == "settings") {
    PrintSettings();
  } else if (step == "set") {
    const HWND control = Control(dialog, argument());
    const std::wstring text = Utf8ToWide(argument());
    SendMessageW(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
  } else if (step == "about") {
    RunAbout(dialog);
  } else if (step == "close") {
    PostMessageW(dialog, WM_CLOSE, 0, 0);
    WaitGone(dialog, "the window gone");
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
    const HWND dialog = WaitFor("the Kestal window", [] { return FindDialog(L"kestal", nullptr); });
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

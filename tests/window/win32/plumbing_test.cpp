// The Win32 plumbing of the window, in one process under Wine and Xvfb: the controls as
// values, the file dialogs and message boxes (answered from a second thread, as a user
// would), and what the message loop reports: keys, drops, device notices, timers, wake-ups
// from other threads, the close request and the exit status.
#include <windows.h>
// After windows.h, which they need.
#include <dbt.h>
#include <shlobj.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <functional>
#include <thread>
#include <utility>
#include <vector>

#include "check.h"
#include "common/utf16.h"
#include "window/win32/common_dialogs.h"
#include "window/win32/dialog_window.h"
#include "window/win32/resource_ids.h"
#include "window/win32/shell_notices.h"
#include "window/win32/system_menu.h"

namespace {

using namespace kestal::win32;
using kestal::WideToUtf8;

constexpr DWORD kPatienceMs = 20000;
constexpr int kFileNameBox = 0x47C;  // cmb13: the file dialogs' name field

// A visible top-level dialog owned by `owner`, once one shows up.
HWND WaitForOwnedDialog(HWND owner) {
  const DWORD start = GetTickCount();
  while (GetTickCount() - start < kPatienceMs) {
    std::pair<HWND, HWND> search{owner, nullptr};
    EnumWindows(
        [](HWND window, LPARAM data) -> BOOL {
          auto& [wanted, found] = *reinterpret_cast<std::pair<HWND, HWND>*>(data);
          wchar_t kind[16] = {};
          GetClassNameW(window, kind, 16);
          if (std::wcscmp(kind, L"#32770") || !IsWindowVisible(window) ||
              GetWindow(window, GW_OWNER) != wanted)
            return TRUE;
          found = window;
          return FALSE;
        },
        reinterpret_cast<LPARAM>(&search));
    if (search.second) return search.second;
    Sleep(50);
  }
  return nullptr;
}

std::wstring TextOf(HWND window) {
  wchar_t text[512] = {};
  GetWindowTextW(window, text, 512);
  return text;
}

// Answers the next dialog over `owner` from another thread: `name` typed into the file name
// field and confirmed, or (empty) cancelled. `seen` gets the dialog's caption and texts.
std::thread Answer(HWND owner, std::wstring name, std::wstring* seen = nullptr) {
  return std::thread([owner, name = std::move(name), seen] {
    const HWND dialog = WaitForOwnedDialog(owner);
    if (!dialog) return;
    if (seen) {
      *seen = TextOf(dialog);
      for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        *seen += L"|" + TextOf(child);
    }
    if (name.empty()) {
      PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
      return;
    }
    SendDlgItemMessageW(dialog, kFileNameBox, WM_SETTEXT, 0,
                        reinterpret_cast<LPARAM>(name.c_str()));
    PostMessageW(dialog, WM_COMMAND, IDOK, 0);
  });
}

std::optional<std::string> AskAnswered(HWND owner, const FileDialogRequest& request,
                                       const std::wstring& answer) {
  std::thread user = Answer(owner, answer);
  std::optional<std::string> chosen = AskFileName(owner, request);
  user.join();
  return chosen;
}

// A scratch folder with a name from three scripts and a file in it.
struct Scratch {
  std::wstring folder;
  std::wstring file;
  std::string folderUtf8;  // built from bytes, not by the code under test
  std::string fileUtf8;
};

Scratch MakeScratch() {
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  Scratch scratch;
  std::string tempUtf8;
  for (const wchar_t* c = temp; *c; ++c) tempUtf8 += static_cast<char>(*c);  // ASCII here
  scratch.folder = std::wstring(temp) + L"kestal \x041F\x0440\x043E\x0448\x0438\x0432\x043A\x0430";
  scratch.folderUtf8 =
      tempUtf8 + "kestal \xD0\x9F\xD1\x80\xD0\xBE\xD1\x88\xD0\xB8\xD0\xB2\xD0\xBA\xD0\xB0";
  scratch.file = scratch.folder +
                 L"\\r\x00FC"
                 L"cken \xD55C.ird";
  scratch.fileUtf8 = scratch.folderUtf8 +
                     "\\r\xC3\xBC"
                     "cken \xED\x95\x9C.ird";
  CreateDirectoryW(scratch.folder.c_str(), nullptr);
  const HANDLE file = CreateFileW(scratch.file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  CloseHandle(file);
  return scratch;
}

void FileDialogs(HWND owner) {
  const Scratch scratch = MakeScratch();
  FileDialogRequest open{false, false, "IRD File (*.ird)|*.ird|All file (*.*)|*.*||", "IRD",
                         scratch.fileUtf8};
  CHECK(AskAnswered(owner, open, scratch.file) == scratch.fileUtf8);
  CHECK(!AskAnswered(owner, open, L""));  // cancelled

  FileDialogRequest save{true, false, "Flash Data Unit (*.fdu)|*.fdu|All file (*.*)|*.*||", "fdu",
                         scratch.fileUtf8};
  const std::optional<std::string> saved = AskAnswered(owner, save, scratch.folder + L"\\liste");
  CHECK_MSG(saved == scratch.folderUtf8 + "\\liste.fdu", saved.value_or("(cancelled)"));

  std::wstring seen;
  std::thread user = Answer(owner, L"", &seen);
  ShowMessage(owner, "Error111", "");
  user.join();
  CHECK_MSG(seen.rfind(L"Error|", 0) == 0 && seen.find(L"|Error111") != std::wstring::npos,
            WideToUtf8(seen));
}

void Controls(DialogWindow& window) {
  DialogControls& controls = window.Controls();
  const HWND dialog = window.Handle();
  CHECK(controls.Items(IDC_MODE_LIST) == (std::vector<std::string>{"Software", "Channels"}));
  CHECK(controls.Selection(IDC_MODE_LIST) == -1);
  CHECK(SendMessageW(dialog, WM_GETICON, ICON_BIG, 0) != 0);
  CHECK(SendMessageW(dialog, WM_GETICON, ICON_SMALL, 0) != 0);
  CHECK(SendDlgItemMessageW(dialog, IDC_PROGRESS, PBM_GETRANGE, FALSE, 0) == 100);
  // Moved to a monitor of twice the DPI, the window gets its icon drawn at twice the size.
  RECT area;
  GetWindowRect(dialog, &area);
  SendMessageW(dialog, WM_DPICHANGED, MAKEWPARAM(192, 192), reinterpret_cast<LPARAM>(&area));
  ICONINFO icon{};
  GetIconInfo(reinterpret_cast<HICON>(SendMessageW(dialog, WM_GETICON, ICON_BIG, 0)), &icon);
  BITMAP picture{};
  GetObjectW(icon.hbmColor, sizeof picture, &picture);
  CHECK_MSG(picture.bmWidth == 2 * GetSystemMetrics(SM_CXICON),
            "big icon " + std::to_string(picture.bmWidth) + " pixels wide at 192 DPI");
  DeleteObject(icon.hbmColor);
  DeleteObject(icon.hbmMask);

  // The system menu ends in the tools and About, each group after a separator (0).
  const HMENU menu = GetSystemMenu(dialog, FALSE);
  const int first = GetMenuItemCount(menu) - 5;
  std::wstring entries;
  for (int position = first; position < first + 5; ++position) {
    wchar_t entry[64] = {};
    GetMenuStringW(menu, static_cast<UINT>(position), entry, 64, MF_BYPOSITION);
    entries += std::to_wstring(GetMenuItemID(menu, position)) + L" " + entry + L"|";
  }
  CHECK_MSG(entries == L"0 |32 Check &Port...|48 Record &Next Transfer...|0 |16 &About kestal...|",
            WideToUtf8(entries));
  for (const UINT on : {1U, 0U}) {
    EnableSystemMenuEntry(dialog, IDM_CHECK_PORT, !on);
    CheckSystemMenuEntry(dialog, IDM_RECORD, on);
    CHECK((GetMenuState(menu, IDM_CHECK_PORT, MF_BYCOMMAND) & MF_GRAYED) == on * MF_GRAYED);
    CHECK(GetMenuState(menu, IDM_RECORD, MF_BYCOMMAND) == on * MF_CHECKED);
  }

  // Ports in the order found, not sorted; a name with "&" shown as it is.
  const std::vector<std::string> ports{"COM10", "COM2", "Virtual Port (box)"};
  controls.SetItems(IDC_PORT_LIST, ports);
  CHECK(controls.Items(IDC_PORT_LIST) == ports);
  controls.Select(IDC_PORT_LIST, 2);
  CHECK(controls.Selection(IDC_PORT_LIST) == 2);
  controls.Select(IDC_PORT_LIST, -1);
  CHECK(controls.Selection(IDC_PORT_LIST) == -1);

  const std::string path =
      "C:\\\xD0\x9F\\A & B r\xC3\xBC"
      "cken.fdu";
  controls.SetText(IDC_FILE_PATH, path);
  CHECK(controls.Text(IDC_FILE_PATH) == path);
  for (int id : {IDC_STATUS, IDC_DETAIL, IDC_PERCENT, IDC_PROGRESS_TEXT})
    CHECK_MSG(GetWindowLongW(GetDlgItem(dialog, id), GWL_STYLE) & SS_NOPREFIX,
              "status text " + std::to_string(id) + " takes & as a mnemonic");

  controls.SetChecked(IDC_TO_COMPUTER, true);
  CHECK(controls.Checked(IDC_TO_COMPUTER) && !controls.Checked(IDC_TO_RECEIVER));
  controls.Enable(IDC_TO_COMPUTER, false);
  CHECK(!controls.Enabled(IDC_TO_COMPUTER) && controls.Enabled(IDC_TO_RECEIVER));
  controls.SetProgress(IDC_PROGRESS, 42);
  CHECK(SendDlgItemMessageW(dialog, IDC_PROGRESS, PBM_GETPOS, 0, 0) == 42);
}

void DeviceNotices() {
  DEV_BROADCAST_HDR port{sizeof port, DBT_DEVTYP_PORT, 0};
  DEV_BROADCAST_HDR volume{sizeof volume, DBT_DEVTYP_VOLUME, 0};
  const auto data = [](DEV_BROADCAST_HDR& header) { return reinterpret_cast<LPARAM>(&header); };
  CHECK(MayChangePorts(DBT_DEVICEARRIVAL, data(port)));
  CHECK(MayChangePorts(DBT_DEVICEREMOVECOMPLETE, data(port)));
  CHECK(MayChangePorts(DBT_DEVNODES_CHANGED, 0));
  CHECK(!MayChangePorts(DBT_DEVICEARRIVAL, data(volume)));
  CHECK(!MayChangePorts(DBT_DEVICEQUERYREMOVE, data(port)));
}

// A drop as the shell makes it: DROPFILES, then the wide names, ending in two NULs.
HDROP MakeDrop(const std::vector<std::wstring>& names) {
  size_t chars = 1;
  for (const std::wstring& name : names) chars += name.size() + 1;
  const HGLOBAL memory = GlobalAlloc(GHND, sizeof(DROPFILES) + chars * sizeof(wchar_t));
  auto* drop = static_cast<DROPFILES*>(GlobalLock(memory));
  drop->pFiles = sizeof(DROPFILES);
  drop->fWide = TRUE;
  auto* text = reinterpret_cast<wchar_t*>(drop + 1);
  for (const std::wstring& name : names) {
    std::memcpy(text, name.c_str(), (name.size() + 1) * sizeof(wchar_t));
    text += name.size() + 1;
  }
  GlobalUnlock(memory);
  return static_cast<HDROP>(memory);
}

// Records what the window reports and closes it, status 7, once everything has arrived.
struct Recorder : WindowEvents {
  DialogWindow& window;
  std::atomic<int> posted{0};
  std::atomic<bool> postersDone{false};
  std::vector<std::pair<int, int>> controls;
  std::vector<std::vector<std::string>> drops;
  std::vector<unsigned> menuEntries;
  bool timerFired = false, timedOut = false, wokenAfterAll = false;
  int portNotices = 0, closeRequests = 0;

  explicit Recorder(DialogWindow& w) : window(w) {}
  void OnControl(int id, int notification) override {
    controls.emplace_back(id, notification);
    Done();
  }
  void OnFilesDropped(const std::vector<std::string>& paths) override {
    drops.push_back(paths);
    Done();
  }
  void OnTimer(unsigned id) override {
    if (id == 99) {
      timedOut = true;
      window.Close(1);
      return;
    }
    timerFired = timerFired || id == 1;
    window.StopTimer(id);
    Done();
  }
  void OnPortsChanged() override {
    ++portNotices;
    Done();
  }
  void OnAbout() override {}
  void OnMenuEntry(unsigned command) override {
    menuEntries.push_back(command);
    Done();
  }
  void OnWake() override {
    // The last poster's Wake came after its last increment: a wake-up may not get lost.
    if (postersDone && posted == 4000) wokenAfterAll = true;
    Done();
  }
  void OnCloseRequest() override {
    ++closeRequests;
    Done();
  }
  void Done() {
    const bool entered = std::count(controls.begin(), controls.end(),
                                    std::make_pair(IDC_START, int{BN_CLICKED})) == 1;
    if (entered && !drops.empty() && menuEntries.size() == 2 && timerFired && portNotices > 0 &&
        wokenAfterAll && closeRequests == 1)
      window.Close(7);
  }
};

void MessageLoop(DialogWindow& window) {
  Recorder recorder(window);
  window.SetEvents(&recorder);
  const HWND dialog = window.Handle();
  for (WPARAM key : {VK_ESCAPE, VK_RETURN}) PostMessageW(dialog, WM_KEYDOWN, key, 1);
  const std::vector<std::wstring> dropped{
      L"C:\\a\\r\x00FC"
      L"cken.fdu",
      L"D:\\\x041F\\b.ird"};
  PostMessageW(dialog, WM_DROPFILES, reinterpret_cast<WPARAM>(MakeDrop(dropped)), 0);
  // A system command may come with its low four bits set.
  for (WPARAM command : {IDM_CHECK_PORT | 2, IDM_RECORD})
    PostMessageW(dialog, WM_SYSCOMMAND, command, 0);
  for (int notice = 0; notice < 3; ++notice)
    SendMessageW(dialog, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0);
  PostMessageW(dialog, WM_CLOSE, 0, 0);
  window.StartTimer(1, 10);
  window.StartTimer(99, kPatienceMs);

  std::vector<std::thread> posters;
  std::atomic<int> running{4};
  for (int thread = 0; thread < 4; ++thread)
    posters.emplace_back([&] {
      for (int call = 0; call < 1000; ++call) {
        ++recorder.posted;
        window.Wake();
      }
      if (--running == 0) {
        recorder.postersDone = true;
        window.Wake();
      }
    });
  const int status = window.Run();
  for (std::thread& poster : posters) poster.join();

  CHECK_MSG(!recorder.timedOut, "not everything arrived");
  CHECK(status == 7);
  CHECK(!IsWindow(dialog) && !window.Handle());
  CHECK(recorder.closeRequests == 1);  // the window stayed until Close
  CHECK(recorder.menuEntries == (std::vector<unsigned>{IDM_CHECK_PORT, IDM_RECORD}));
  for (const auto& [id, notification] : recorder.controls)
    CHECK_MSG(id != IDCANCEL, "Escape reached the window");
  CHECK(recorder.drops.size() == 1 &&
        recorder.drops[0] == (std::vector<std::string>{"C:\\a\\r\xC3\xBC"
                                                       "cken.fdu",
                                                       "D:\\\xD0\x9F\\b.ird"}));
}

// Without its logic the window closes on request, status 0.
void ClosesAlone() {
  DialogWindow window(GetModuleHandleW(nullptr));
  CHECK(window.Create(SW_SHOWNOACTIVATE));
  PostMessageW(window.Handle(), WM_CLOSE, 0, 0);
  CHECK(window.Run() == 0);
}

}  // namespace

int main() {
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  DeviceNotices();
  DialogWindow window(GetModuleHandleW(nullptr));
  if (!CHECK(window.Create(SW_SHOWNOACTIVATE))) return 1;
  Controls(window);
  FileDialogs(window.Handle());
  MessageLoop(window);
  ClosesAlone();
  return kestal::test::Failures();
}

#include "window/win32/dialog_window.h"

#include <commctrl.h>
#include <shellapi.h>

#include "window/win32/about_box.h"
#include "window/win32/resource_ids.h"
#include "window/win32/shell_notices.h"
#include "window/win32/system_menu.h"

namespace kestal::win32 {
namespace {

constexpr UINT kWakeMessage = WM_APP + 1;
// Device notices come in bursts (an adapter plugged in brings several): the ports are looked
// at once things have been quiet this long. The timer's id is above those the owner uses.
constexpr UINT_PTR kPortsSettledTimer = 100;
constexpr UINT kPortsSettleMs = 500;

DialogWindow* WindowOf(HWND window) {
  return reinterpret_cast<DialogWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
}

}  // namespace

DialogWindow::DialogWindow(HINSTANCE instance) : instance_(instance) {}

DialogWindow::~DialogWindow() {
  if (const HWND window = Handle()) DestroyWindow(window);
}

bool DialogWindow::Create(int show) {
  const HWND window = CreateDialogParamW(instance_, MAKEINTRESOURCEW(IDD_MAIN), nullptr, DialogProc,
                                         reinterpret_cast<LPARAM>(this));
  if (!window) return false;
  ShowWindow(window, show);
  return true;
}

int DialogWindow::Run() {
  MSG message;
  BOOL got;
  while ((got = GetMessageW(&message, nullptr, 0, 0)) != 0) {
    if (got == -1) return 1;
    // Tab, the arrow keys, Enter and the mnemonics move through the dialog as in any other.
    const HWND window = Handle();
    if (window && IsDialogMessageW(window, &message)) continue;
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return static_cast<int>(message.wParam);
}

void DialogWindow::Close(int exitStatus) {
  exitStatus_ = exitStatus;
  if (const HWND window = Handle()) DestroyWindow(window);
}

void DialogWindow::StartTimer(unsigned id, unsigned milliseconds) {
  SetTimer(Handle(), id, milliseconds, nullptr);
}

void DialogWindow::StopTimer(unsigned id) { KillTimer(Handle(), id); }

void DialogWindow::Wake() {
  if (wakePending_.exchange(true)) return;
  // A window already gone, or a full queue: the next Wake tries again.
  const HWND window = Handle();
  if (!window || !PostMessageW(window, kWakeMessage, 0, 0)) wakePending_ = false;
}

INT_PTR CALLBACK DialogWindow::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    auto* self = reinterpret_cast<DialogWindow*>(lParam);
    SetWindowLongPtrW(window, GWLP_USERDATA, lParam);
    self->window_ = window;
    self->OnInitDialog();
    return TRUE;  // the focus goes to the first control
  }
  DialogWindow* self = WindowOf(window);
  return self ? self->OnMessage(message, wParam, lParam) : FALSE;
}

void DialogWindow::OnInitDialog() {
  const HWND window = Handle();
  controls_.Attach(window);
  controls_.SetItems(IDC_MODE_LIST, {ResourceText(instance_, IDS_MODE_SOFTWARE),
                                     ResourceText(instance_, IDS_MODE_CHANNELS)});
  SendDlgItemMessageW(window, IDC_PROGRESS, PBM_SETRANGE32, 0, 100);
  icons_.Apply(instance_, window, WindowDpi(window));
  AddSystemMenuEntries(instance_, window);
  DragAcceptFiles(window, TRUE);
}

INT_PTR DialogWindow::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND:
      OnCommand(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam));
      return TRUE;
    case WM_SYSCOMMAND:
      return OnSystemCommand(static_cast<UINT>(wParam & 0xFFF0));
    case WM_HELP:  // F1
      OnAboutRequest();
      return TRUE;
    case WM_CLOSE:
      if (events_)
        events_->OnCloseRequest();
      else
        Close(0);
      return TRUE;
    case WM_TIMER:
      OnTimerMessage(wParam);
      return TRUE;
    case WM_DROPFILES: {
      const std::vector<std::string> paths = TakeDroppedFiles(reinterpret_cast<HDROP>(wParam));
      if (events_ && !paths.empty()) events_->OnFilesDropped(paths);
      return TRUE;
    }
    case WM_DEVICECHANGE:
      if (MayChangePorts(wParam, lParam))
        SetTimer(Handle(), kPortsSettledTimer, kPortsSettleMs, nullptr);
      return FALSE;  // the default answer: nothing is refused
    case kWakeMessage:
      wakePending_ = false;  // a Wake from now on posts again
      if (events_) events_->OnWake();
      return TRUE;
    case WM_DPICHANGED:
      // The dialog manager lays the dialog out anew for the new DPI; the icons are reloaded.
      icons_.Apply(instance_, Handle(), LOWORD(wParam));
      return FALSE;
    case WM_DESTROY:
      DragAcceptFiles(Handle(), FALSE);
      PostQuitMessage(exitStatus_);
      return FALSE;
    case WM_NCDESTROY:
      window_ = nullptr;
      return FALSE;
    default:
      return FALSE;
  }
}

void DialogWindow::OnCommand(int id, int notification, HWND control) {
  // IDCANCEL without a control is the Escape key: the window ends only through its close
  // request, never by a key slip.
  if (!control || !events_) return;
  events_->OnControl(id, notification);
}

// The entries of the window's own; the others are the system's (move, close, ...).
bool DialogWindow::OnSystemCommand(UINT command) {
  if (command == IDM_ABOUT) {
    OnAboutRequest();
    return true;
  }
  if (command != IDM_CHECK_PORT && command != IDM_RECORD) return false;
  if (events_) events_->OnMenuEntry(command);
  return true;
}

void DialogWindow::OnAboutRequest() {
  if (events_)
    events_->OnAbout();
  else
    ShowAboutBox(instance_, Handle());
}

void DialogWindow::OnTimerMessage(UINT_PTR id) {
  if (id != kPortsSettledTimer) {
    if (events_) events_->OnTimer(static_cast<unsigned>(id));
    return;
  }
  KillTimer(Handle(), kPortsSettledTimer);
  if (events_) events_->OnPortsChanged();
}

}  // namespace kestal::win32

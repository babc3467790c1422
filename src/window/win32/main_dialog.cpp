// MainDialog: what the logic tells the dialog's controls, and the events they forward.
#include "window/win32/main_dialog.h"

#include <atomic>
#include <memory>
#include <thread>

#include "common/utf16.h"
#include "window/win32/about_box.h"
#include "window/win32/common_dialogs.h"
#include "window/win32/console_text.h"
#include "window/win32/report_dialog.h"
#include "window/win32/resource_ids.h"
#include "window/win32/system_menu.h"

namespace kestal::win32 {
namespace {

using window::Control;

constexpr int kNoControl = 0;  // the window's own title, or an entry of its system menu

int IdOf(Control control) {
  switch (control) {
    case Control::ModeList:
      return IDC_MODE_LIST;
    case Control::ToReceiver:
      return IDC_TO_RECEIVER;
    case Control::ToComputer:
      return IDC_TO_COMPUTER;
    case Control::FileButton:
      return IDC_FILE_BUTTON;
    case Control::PathField:
      return IDC_FILE_PATH;
    case Control::PortList:
      return IDC_PORT_LIST;
    case Control::StartButton:
      return IDC_START;
    case Control::StopButton:
      return IDC_STOP;
    case Control::StatusLine:
      return IDC_STATUS;
    case Control::DetailLine:
      return IDC_DETAIL;
    case Control::PercentLabel:
      return IDC_PERCENT;
    case Control::ProgressText:
      return IDC_PROGRESS_TEXT;
    case Control::Caption:
    case Control::CheckPortEntry:
    case Control::RecordEntry:
      break;
  }
  return kNoControl;
}

// The tool entries live in the system menu; 0 for anything else.
UINT MenuEntryOf(Control control) {
  if (control == Control::CheckPortEntry) return IDM_CHECK_PORT;
  if (control == Control::RecordEntry) return IDM_RECORD;
  return 0;
}

// "Name|pattern|...||", as the file dialog takes its filters.
std::string FilterText(const std::vector<window::FileFilter>& filters) {
  std::string text;
  for (const window::FileFilter& filter : filters) text += filter.name + "|" + filter.pattern + "|";
  return text + "|";
}

}  // namespace

MainDialog::MainDialog(HINSTANCE instance, const std::string& commandLinePath)
    : instance_(instance), settings_(window::OpenUserSettings()), window_(instance) {
  window_.SetEvents(this);
  logic_ = std::make_unique<window::MainWindow>(*this, link_, *settings_,
                                                window::MainWindow::Discovery{}, commandLinePath);
  logic_->WireSerialLink(link_);
}

// The logic ends the transfer and joins its worker while the link and the settings exist.
MainDialog::~MainDialog() { logic_.reset(); }

int MainDialog::Run(int show) {
  if (!window_.Create(show)) return 1;
  logic_->OnInit();
  const int status = window_.Run();
  std::lock_guard lock(postedMutex_);
  windowGone_ = true;
  posted_.clear();
  return status;
}

void MainDialog::SetEntries(Control list, const std::vector<std::string>& entries) {
  if (!Shown()) return;
  window_.Controls().SetItems(IdOf(list), entries);
  window_.Controls().Select(IdOf(list), -1);
  window_.Controls().FitListWidth(IdOf(list));
}

void MainDialog::SelectEntry(Control list, int entry) {
  if (Shown()) window_.Controls().Select(IdOf(list), entry);
}

void MainDialog::Check(Control radio) {
  if (!Shown()) return;
  window_.Controls().SetChecked(IDC_TO_RECEIVER, radio == Control::ToReceiver);
  window_.Controls().SetChecked(IDC_TO_COMPUTER, radio == Control::ToComputer);
}

void MainDialog::Enable(Control control, bool enabled) {
  if (!Shown()) return;
  if (const UINT entry = MenuEntryOf(control))
    EnableSystemMenuEntry(window_.Handle(), entry, enabled);
  else if (IdOf(control) != kNoControl)
    window_.Controls().Enable(IdOf(control), enabled);
}

void MainDialog::SetText(Control control, const std::string& text) {
  if (!Shown()) return;
  if (control == Control::Caption) {
    SetWindowTextW(window_.Handle(), Utf8ToWide(text).c_str());
    return;
  }
  settingPath_ = control == Control::PathField;
  window_.Controls().SetText(IdOf(control), text);
  settingPath_ = false;
}

void MainDialog::SetChecked(Control entry, bool checked) {
  if (Shown() && MenuEntryOf(entry))
    CheckSystemMenuEntry(window_.Handle(), MenuEntryOf(entry), checked);
}

void MainDialog::SetProgress(int percent) {
  if (Shown()) window_.Controls().SetProgress(IDC_PROGRESS, percent);
}

// An empty caption is Windows' own ("Error").
void MainDialog::ShowBox(const std::string& text, const std::string& caption) {
  ShowMessage(window_.Handle(), text, caption);
}

// A box of its own thread, so the window goes on; the reader repeats its notice while the
// trouble lasts, and one box on screen is enough.
void MainDialog::ShowNotice(const std::string& text) {
  static const auto onScreen = std::make_shared<std::atomic<bool>>(false);
  if (onScreen->exchange(true)) return;
  std::thread([text, shown = onScreen] {
    ShowMessage(nullptr, text, "kestal");
    *shown = false;
  }).detach();
}

bool MainDialog::AskYesNo(const std::string& question, const std::string& caption) {
  const std::wstring text = Utf8ToWide(question);
  const std::wstring title = Utf8ToWide(caption.empty() ? "kestal" : caption);
  return MessageBoxW(window_.Handle(), text.c_str(), title.c_str(),
                     MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON1) == IDYES;
}

std::optional<std::string> MainDialog::AskFileName(const window::FileRequest& request) {
  const FileDialogRequest dialog{request.saveAs, request.confirmOverwrite,
                                 FilterText(request.filters), request.defaultExtension,
                                 request.initialPath};
  return win32::AskFileName(window_.Handle(), dialog);
}

void MainDialog::ShowAbout() { ShowAboutBox(instance_, window_.Handle()); }

void MainDialog::ShowReport(const std::string& title, const std::string& text) {
  ShowReportDialog(instance_, window_.Handle(), title, text);
}

void MainDialog::StartTimer(window::WindowTimer timer, std::chrono::milliseconds period) {
  window_.StartTimer(static_cast<unsigned>(timer), static_cast<unsigned>(period.count()));
}

void MainDialog::StopTimer(window::WindowTimer timer) {
  window_.StopTimer(static_cast<unsigned>(timer));
}

// Any thread: queued, and the window woken to run the queue.
void MainDialog::Post(std::function<void()> call) {
  {
    std::lock_guard lock(postedMutex_);
    if (windowGone_) return;
    posted_.push_back(std::move(call));
  }
  window_.Wake();
}

// One call at a time: a call that opens a modal dialog (a report) leaves the others to the
// dialog's own message loop, woken for them, instead of holding them until it closes.
void MainDialog::OnWake() {
  while (const std::function<void()> call = TakePosted()) call();
}

std::function<void()> MainDialog::TakePosted() {
  std::lock_guard lock(postedMutex_);
  if (posted_.empty()) return {};
  std::function<void()> call = std::move(posted_.front());
  posted_.pop_front();
  if (!posted_.empty()) window_.Wake();
  return call;
}

void MainDialog::Close(int exitStatus) { window_.Close(exitStatus); }

void MainDialog::PrintLine(const std::string& text) {
  WriteToStarter(StdStream::Error, text + "\n");
}

void MainDialog::OnControl(int controlId, int notification) {
  DialogControls& controls = window_.Controls();
  switch (controlId) {
    case IDC_MODE_LIST:
      if (notification == CBN_SELCHANGE) logic_->OnModeChosen(controls.Selection(controlId));
      break;
    case IDC_PORT_LIST:
      // The list is looked at again as it opens: an adapter may have come without a notice.
      if (notification == CBN_DROPDOWN) logic_->OnPortsChanged();
      if (notification == CBN_SELCHANGE) logic_->OnPortChosen(controls.Selection(controlId));
      break;
    case IDC_FILE_PATH:
      if (notification == EN_CHANGE && !settingPath_)
        logic_->OnPathEdited(controls.Text(controlId));
      break;
    default:
      if (notification == BN_CLICKED) OnClick(controlId);
  }
}

void MainDialog::OnClick(int controlId) {
  switch (controlId) {
    case IDC_TO_RECEIVER:
      logic_->OnDirectionChosen(DIR_TO_RECEIVER);
      break;
    case IDC_TO_COMPUTER:
      logic_->OnDirectionChosen(DIR_TO_COMPUTER);
      break;
    case IDC_FILE_BUTTON:
      logic_->OnFileButton();
      break;
    case IDC_START:
      logic_->OnStart();
      break;
    case IDC_STOP:
      logic_->OnStop();
      break;
    case IDC_ABOUT:
      logic_->OnAbout();
      break;
    default:
      break;
  }
}

void MainDialog::OnFilesDropped(const std::vector<std::string>& paths) { logic_->OnDrop(paths); }

void MainDialog::OnTimer(unsigned id) {
  if (id == static_cast<unsigned>(window::WindowTimer::Watchdog) ||
      id == static_cast<unsigned>(window::WindowTimer::Status))
    logic_->OnTimer(static_cast<window::WindowTimer>(id));
}

void MainDialog::OnPortsChanged() { logic_->OnPortsChanged(); }

void MainDialog::OnAbout() { logic_->OnAbout(); }

void MainDialog::OnMenuEntry(unsigned command) {
  if (command == IDM_CHECK_PORT) logic_->OnCheckPort();
  if (command == IDM_RECORD) logic_->OnRecordEntry();
}

void MainDialog::OnCloseRequest() { window_.Close(logic_->OnClose()); }

}  // namespace kestal::win32

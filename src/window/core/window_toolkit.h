#pragma once
// What the window's logic (MainWindow) asks of a toolkit: small things any dialog can do.
//
// How a toolkit plugs in:
//  1. Build the dialog's controls (those of `Control`, plus frames and labels of its own) and
//     implement WindowToolkit over them. The logic never reads a control: everything it needs
//     comes with the events, and everything it shows goes through these calls.
//  2. Own the SerialLink, the SettingsStore (OpenUserSettings()) and a MainWindow built over
//     them and this toolkit, in that order, so the MainWindow goes first; call WireSerialLink.
//  3. Forward the user's actions and the window's events to the MainWindow's On* members, on
//     the window thread: only what the user did, never the echo of a call made by the logic
//     (a SetText on the path field is no edit, a SelectEntry no choice).
//  4. Offer the two tool entries (a menu of the window's, or its system menu, beside About):
//     "Check Port..." (OnCheckPort) and "Record Next Transfer..." (OnRecordEntry), a checkable
//     entry whose check mark the logic sets after every click (SetChecked); Enable greys them.
//     Check Port's report opens in a dialog of the toolkit's own (ShowReport).
//  5. Run the dialog until Close() or the user's close request (OnClose()), and end the
//     program with the status given.
// Texts are UTF-8 throughout; names from outside arrive escaped (kestal::Printable).
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace kestal::window {

// The controls the logic speaks of, in the order of the layout (and of Tab).
enum class Control {
  ModeList,      // drop-down list: "Software", "Channels"
  ToReceiver,    // radio button, direction 0
  ToComputer,    // radio button, direction 1
  FileButton,    // "File"
  PathField,     // the file path; the user may type into it
  PortList,      // drop-down list of the ports found
  StartButton,   // "Download" / "Upload"
  StopButton,    // "Stop"
  StatusLine,    // the system's status text
  DetailLine,    // a line under it: why, what to check
  PercentLabel,  // "42%" beside the progress bar
  ProgressText,  // bytes, rate and time left, or what a finished transfer moved
  Caption,       // the window's title
  // The tool entries, out of the way of a transfer (a menu, or the system menu).
  CheckPortEntry,  // "Check Port..."
  RecordEntry,     // "Record Next Transfer...", checked while the next transfer is recorded
};

// The window's timers; the ids are those the platform's window timers use.
enum class WindowTimer { Watchdog = 1, Status = 3 };

struct FileFilter {
  std::string name;     // "IRD File (*.ird)"
  std::string pattern;  // "*.ird"
};

// What the file button asks the user for.
struct FileRequest {
  bool saveAs = false;            // a name to write, else an existing file to read
  bool confirmOverwrite = false;  // saveAs: ask before an existing file is chosen
  std::vector<FileFilter> filters;
  std::string defaultExtension;  // added to a name typed without one ("IRD", "fdu")
  std::string initialPath;       // the path the window holds now
};

class WindowToolkit {
 public:
  virtual ~WindowToolkit() = default;

  // A list's entries, replacing what it held, with no entry selected.
  virtual void SetEntries(Control list, const std::vector<std::string>& entries) = 0;
  // Selects entry `entry` of a list; -1 selects none.
  virtual void SelectEntry(Control list, int entry) = 0;
  // Checks a radio button; the other button of its group is unchecked.
  virtual void Check(Control radio) = 0;
  virtual void Enable(Control control, bool enabled) = 0;
  virtual void SetText(Control control, const std::string& text) = 0;
  virtual void SetProgress(int percent) = 0;  // 0 to 100
  // Sets or clears the check mark of a checkable entry (RecordEntry).
  virtual void SetChecked(Control entry, bool checked) = 0;

  // A modal box with an OK button; an empty caption is the platform's own (Windows: "Error",
  // Qt: the program's name).
  virtual void ShowBox(const std::string& text, const std::string& caption) = 0;
  // A box that does not wait for its OK (a notice of the link's reader).
  virtual void ShowNotice(const std::string& text) = 0;
  // A modal question; true for Yes, the default answer.
  virtual bool AskYesNo(const std::string& question, const std::string& caption) = 0;
  // The file dialog; nullopt when cancelled.
  virtual std::optional<std::string> AskFileName(const FileRequest& request) = 0;
  virtual void ShowAbout() = 0;
  // A modal dialog titled `title` with `text` read-only in several lines (a fixed-width font
  // keeps its columns; lines end in "\n"), a Copy button that puts the whole text on the
  // clipboard, and an OK button that closes it.
  virtual void ShowReport(const std::string& title, const std::string& text) = 0;

  // Calls MainWindow::OnTimer(timer) every `period` until stopped; starting a running timer
  // restarts it.
  virtual void StartTimer(WindowTimer timer, std::chrono::milliseconds period) = 0;
  virtual void StopTimer(WindowTimer timer) = 0;
  // Any thread, never blocks: runs `call` soon on the window thread, after the handler that is
  // running returns; dropped once the window is gone.
  virtual void Post(std::function<void()> call) = 0;
  // Ends the dialog; the program then exits with `exitStatus`. MainWindow::OnClose has run.
  virtual void Close(int exitStatus) = 0;
  // A line on the standard error stream.
  virtual void PrintLine(const std::string& text) = 0;
};

}  // namespace kestal::window

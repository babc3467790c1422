// The window's logic, whatever draws it: which inputs are enabled, what is stored and believed,
// what a command-line run does and exits with, what is shown and asked. A fake toolkit records
// what is shown and answers as told; a store in memory keeps the seam's promises (nothing
// written while it does not exist, nor a value already stored); transfers run a scripted worker
// on a fake link.
#include "window/core/main_window.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <map>
#include <mutex>
#include <ranges>
#include <thread>
#include <variant>

#include "support/fake_link.h"
#include "support/scratch_dir.h"
#include "transfer/status_texts.h"
#include "window/core/port_list.h"
#include "window/core/progress_text.h"

namespace kestal::window {
namespace {

using namespace std::chrono_literals;

class FakeToolkit : public WindowToolkit {
 public:
  std::map<Control, std::string> text;
  mutable std::map<Control, bool> disabled;
  std::map<Control, std::vector<std::string>> entries;
  std::map<Control, int> selected;
  std::optional<Control> checked;
  int progress = -1;
  std::vector<std::string> boxes, questions, printed;
  std::vector<FileRequest> fileRequests;
  bool answerYes = true;
  std::optional<std::string> fileAnswer;
  std::map<WindowTimer, std::chrono::milliseconds> timers;  // the running ones
  std::optional<int> closedWith;

  bool Enabled(Control control) const { return !disabled[control]; }
  // Runs what was posted so far, as the window thread's loop would.
  void RunPosted() {
    std::vector<std::function<void()>> calls;
    std::unique_lock lock(mutex_);
    calls.swap(posted_);
    lock.unlock();
    for (auto& call : calls) call();
  }

  void SetEntries(Control list, const std::vector<std::string>& shown) override {
    entries[list] = shown;
    selected[list] = -1;
  }
  void SelectEntry(Control list, int entry) override { selected[list] = entry; }
  void Check(Control radio) override { checked = radio; }
  void Enable(Control control, bool enabled) override { disabled[control] = !enabled; }
  void SetText(Control control, const std::string& shown) override { text[control] = shown; }
  void SetProgress(int percent) override { progress = percent; }
  void ShowBox(const std::string& shown, const std::string&) override { boxes.push_back(shown); }
  void ShowNotice(const std::string& shown) override { boxes.push_back(shown); }
  bool AskYesNo(const std::string& question, const std::string&) override {
    questions.push_back(question);
    return answerYes;
  }
  std::optional<std::string> AskFileName(const FileRequest& request) override {
    fileRequests.push_back(request);
    return fileAnswer;
  }
  void ShowAbout() override {}
  void StartTimer(WindowTimer timer, std::chrono::milliseconds period) override {
    timers[timer] = period;
  }
  void StopTimer(WindowTimer timer) override { timers.erase(timer); }
  void Post(std::function<void()> call) override {
    std::lock_guard lock(mutex_);
    posted_.push_back(std::move(call));
  }
  void Close(int exitStatus) override { closedWith = exitStatus; }
  void PrintLine(const std::string& line) override { printed.push_back(line); }

 private:
  std::mutex mutex_;  // Post comes from the worker's thread
  std::vector<std::function<void()>> posted_;
};

class MemoryStore : public SettingsStore {
 public:
  using Value = std::variant<std::string, int64_t>;
  bool exists = true;
  std::string problem;
  std::map<std::string, Value> values;
  int writes = 0;

  bool Exists() const override { return exists; }
  std::string Problem() const override { return problem; }
  void Create() override { exists = true; }
  std::optional<std::string> Text(const std::string& name) const override {
    return Get<std::string>(name);
  }
  std::optional<int64_t> Number(const std::string& name) const override {
    return Get<int64_t>(name);
  }
  void SetText(const std::string& name, const std::string& value) override { Set(name, value); }
  void SetNumber(const std::string& name, uint32_t value) override { Set(name, int64_t{value}); }

 private:
  template <typename Kind>
  std::optional<Kind> Get(const std::string& name) const {
    const auto found = values.find(name);
    if (found == values.end() || !std::holds_alternative<Kind>(found->second)) return std::nullopt;
    return std::get<Kind>(found->second);
  }
  void Set(const std::string& name, const Value& value) {
    if (!exists || (values.contains(name) && values.at(name) == value)) return;
    values[name] = value;
    ++writes;
  }
};

// Holds the transfer open until released or stopped; on release it ends as the download
// worker does: 100 % and the end, then its closing status and figures.
struct StubWorker {
  std::atomic<bool> released{false};
  WorkerOutcome outcome = WorkerOutcome::Completed;
  std::atomic<int> launches{0};
  TransferRequest request;  // of the last launch; read once the worker has ended

  TransferController::WorkerProc Proc() {
    return [this](WorkerContext& context) {
      request = context.request;
      ++launches;
      while (!released && context.state.running) std::this_thread::sleep_for(1ms);
      const bool completed = outcome == WorkerOutcome::Completed && context.state.running;
      if (completed) context.notify.NotifyProgress({100, 4096, 4096});
      context.notify.NotifyDone(completed);
      if (completed) context.notify.NotifyStatus(kUntilReplaced, text::kComplete);
      context.notify.NotifyProgress({0, 0, 4096});
      return outcome;
    };
  }
};

PortInfo Port(const std::string& name, const std::string& path, bool usb = false) {
  PortInfo port;
  port.friendlyName = name;
  port.devicePath = path;
  port.usb = usb;
  return port;
}

class WindowTest : public ::testing::Test {
 protected:
  void Open(const std::string& commandLine = {}) {
    window_.reset();
    ui_ = std::make_unique<FakeToolkit>();
    window_ = std::make_unique<MainWindow>(*ui_, link_, store_, discover_, commandLine);
    window_->Controller().SetWorkers(worker_.Proc(), worker_.Proc());
    window_->OnInit();
  }
  // Handles the worker's notifications, as the window thread does, until `done`.
  bool PumpUntil(const std::function<bool()>& done) {
    for (int round = 0; round < 20000 && !done(); ++round) {
      ui_->RunPosted();
      std::this_thread::sleep_for(100us);
    }
    return done();
  }
  bool Idle() {
    return PumpUntil([&] { return !window_->Controller().Busy(); });
  }
  std::string File(const std::string& name) {
    const std::string path = dir_.File(name);
    kestal::testing::WriteBytes(path, {1, 2, 3});
    return path;
  }
  std::string Shown(Control control) { return ui_->text[control]; }
  // The user types into the path field.
  void Type(const std::string& path) {
    ui_->text[Control::PathField] = path;
    window_->OnPathEdited(path);
  }

  kestal::testing::ScratchDir dir_;
  kestal::testing::FakeLink link_;
  std::unique_ptr<FakeToolkit> ui_;
  MemoryStore store_;
  StubWorker worker_;
  PortList ports_ = {Port("USB A", "/dev/a"), Port("USB B", "/dev/b")};
  const MainWindow::Discovery discover_ = [this] { return DiscoveryResult{ports_, {}}; };
  std::unique_ptr<MainWindow> window_;  // last: goes first
};

TEST_F(WindowTest, SoftwareIsOnlySentAndEachModeAsksForItsOwnFiles) {
  store_.values = {{"softfile", "/s.ird"}, {"chfile", "/c.fdu"}};
  Open();
  EXPECT_EQ(ui_->entries[Control::ModeList], (std::vector<std::string>{"Software", "Channels"}));
  EXPECT_FALSE(ui_->Enabled(Control::ToComputer));
  window_->OnFileButton();
  EXPECT_FALSE(ui_->fileRequests.back().saveAs);
  EXPECT_EQ(ui_->fileRequests.back().filters.front().pattern, "*.ird");
  EXPECT_EQ(ui_->fileRequests.back().defaultExtension, "IRD");

  window_->OnModeChosen(MODE_CHANNELS);
  EXPECT_TRUE(ui_->Enabled(Control::ToComputer));
  EXPECT_EQ(Shown(Control::PathField), "/c.fdu");
  window_->OnDirectionChosen(DIR_TO_COMPUTER);
  EXPECT_EQ(Shown(Control::StartButton), "Upload");
  window_->OnFileButton();
  EXPECT_TRUE(ui_->fileRequests.back().saveAs);
  EXPECT_EQ(ui_->fileRequests.back().filters.front().name, "Flash Data Unit (*.fdu)");

  window_->OnModeChosen(MODE_SOFTWARE);
  EXPECT_EQ(ui_->checked, Control::ToReceiver);
  EXPECT_FALSE(ui_->Enabled(Control::ToComputer));
  EXPECT_EQ(Shown(Control::StartButton), "Download");
  EXPECT_EQ(Shown(Control::PathField), "/s.ird");
  EXPECT_EQ(window_->OnClose(), 0);
}

// Entry 1 is tried first, so a name that begins entries 0 and 1 selects entry 1.
TEST_F(WindowTest, RestoresWhatIsStoredAndIgnoresWhatItCannotBelieve) {
  ports_ = {Port("Box", "/dev/a"), Port("Box 2", "/dev/b")};
  store_.values = {{"port", "box"}, {"chfile", "/c.fdu"}, {"mode", int64_t{MODE_CHANNELS}}};
  Open();
  EXPECT_EQ(ui_->selected[Control::PortList], 1);
  EXPECT_EQ(ui_->selected[Control::ModeList], MODE_CHANNELS);
  EXPECT_EQ(Shown(Control::PathField), "/c.fdu");

  for (const MemoryStore::Value& mode : {MemoryStore::Value("1"), MemoryStore::Value(int64_t{7}),
                                         MemoryStore::Value(int64_t{1} << 32 | 1)}) {
    store_.values = {{"mode", mode}};
    store_.writes = 0;
    Open();
    EXPECT_EQ(ui_->selected[Control::ModeList], MODE_SOFTWARE);
    EXPECT_EQ(store_.writes, 0);  // what was not believed is not written back either
  }
  store_.values = {{"port", "elsewhere"}};
  Open();
  EXPECT_EQ(ui_->selected[Control::PortList], -1);
}

TEST_F(WindowTest, TheStoreIsMadeOnceAPortIsThereAndOneThatCannotBeUsedIsLeftAlone) {
  store_.exists = false;
  const PortList found = ports_;
  ports_.clear();
  Open();
  EXPECT_EQ(ui_->boxes, std::vector<std::string>{"Not available Serial Port"});
  EXPECT_FALSE(ui_->Enabled(Control::StartButton));
  EXPECT_FALSE(store_.exists);

  ports_ = found;
  window_->OnPortsChanged();
  EXPECT_TRUE(ui_->Enabled(Control::StartButton));
  EXPECT_TRUE(store_.exists);
  EXPECT_EQ(store_.writes, 0);
  EXPECT_EQ(ui_->selected[Control::PortList], 0);
  EXPECT_EQ(Shown(Control::StatusLine), "Kestal Vantro Manager.");
  EXPECT_EQ(Shown(Control::Caption), "Kestal");

  store_ = MemoryStore();
  store_.problem = "Settings: /x is not a regular file; using defaults.";
  store_.exists = false;
  store_.values = {{"mode", int64_t{MODE_CHANNELS}}};
  Open();
  EXPECT_EQ(ui_->printed, std::vector<std::string>{store_.problem});
  EXPECT_EQ(ui_->selected[Control::ModeList], MODE_SOFTWARE);
  window_->OnPortChosen(1);
  EXPECT_EQ(store_.writes, 0);
}

// The worker reads the request it was given: nothing that feeds it changes while it runs, and
// the start button waits for it to end.
TEST_F(WindowTest, ARunningTransferLocksTheInputsTheStartButtonAndDrops) {
  Open();
  const std::string image = File("image.ird");
  Type(image);
  window_->OnStart();
  ASSERT_TRUE(window_->Controller().Busy());
  // The file button, path, port, mode, both directions and the start button.
  EXPECT_EQ(std::ranges::count(std::views::values(ui_->disabled), true), 7);
  window_->OnDrop({File("other.ird")});
  window_->OnPathEdited("/typed.ird");  // a stray event: the field is disabled
  window_->OnModeChosen(MODE_CHANNELS);
  window_->OnStart();

  window_->OnStop();
  EXPECT_EQ(Shown(Control::StatusLine), "Interrupted by user!");
  EXPECT_EQ(ProgressText(1 << 20, 4 << 20, 4.0),
            "1.0 MB of 4.0 MB \u00b7 256 KB/s \u00b7 0:12 left");
  ASSERT_TRUE(PumpUntil([&] { return ui_->Enabled(Control::StartButton); }));
  EXPECT_EQ(std::ranges::count(std::views::values(ui_->disabled), true), 1);  // To Computer
  worker_.released = true;
  window_->OnStart();
  ASSERT_TRUE(Idle());
  EXPECT_EQ(worker_.launches, 2);
  EXPECT_EQ(worker_.request.path, image);
  EXPECT_EQ(worker_.request.mode, MODE_SOFTWARE);
  window_->OnDrop({dir_.File("missing.ird"), image});
  EXPECT_EQ(ui_->boxes, std::vector<std::string>{"Error111"});
  EXPECT_EQ(Shown(Control::PathField), dir_.File("missing.ird"));
  EXPECT_EQ(store_.Text("softfile"), dir_.File("missing.ird"));
}

// The display time applies to transient texts; a failure waits for the user, who may be at
// the receiver when it comes.
TEST_F(WindowTest, FailuresStayUntilTheUserActsAndNoPortSaysSo) {
  store_.values = {{"port", "gone"}};
  Open();
  window_->OnStart();
  EXPECT_EQ(Shown(Control::StatusLine), "Please Select File !");
  EXPECT_FALSE(ui_->timers.contains(WindowTimer::Status));
  Type(File("image.ird"));
  EXPECT_EQ(Shown(Control::StatusLine), "");
  window_->OnStart();
  EXPECT_EQ(Shown(Control::StatusLine), "No port selected.");
  EXPECT_EQ(Shown(Control::DetailLine), "Choose the receiver's port in the list.");
  window_->OnPortChosen(0);
  EXPECT_EQ(Shown(Control::DetailLine), "");
  link_.openResult = OpenResult::Busy;
  window_->OnStart();
  EXPECT_EQ(Shown(Control::StatusLine), "Open port failed!");
  EXPECT_NE(Shown(Control::DetailLine), "");
  EXPECT_FALSE(ui_->timers.contains(WindowTimer::Status));
  window_->OnStop();
  EXPECT_EQ(Shown(Control::StatusLine), "");
}

// The same note as on the command line as soon as the file is taken; at the start, a question,
// whose default sends the file in its own mode.
TEST_F(WindowTest, AFileOfTheOtherModeIsNotedAndSentInItsOwnModeUnlessTheUserSaysNo) {
  store_.values = {{"mode", int64_t{MODE_CHANNELS}}};
  Open();
  const std::string image = File("image.ird");
  window_->OnDrop({image});
  EXPECT_EQ(Shown(Control::DetailLine),
            "Note: " + image + " does not end in .fdu, as Channels files do.");
  window_->OnStart();
  ASSERT_EQ(ui_->questions.size(), 1u);
  EXPECT_NE(ui_->questions[0].find("Switch to Software mode"), std::string::npos);
  worker_.released = true;
  ASSERT_TRUE(Idle());
  EXPECT_EQ(worker_.request.mode, MODE_SOFTWARE);
  EXPECT_EQ(ui_->selected[Control::ModeList], MODE_SOFTWARE);
  EXPECT_EQ(store_.Number("mode"), MODE_SOFTWARE);
  EXPECT_EQ(store_.Text("softfile"), image);

  const std::string list = File("list.FDU");
  ui_->fileAnswer = list;
  window_->OnFileButton();
  EXPECT_EQ(Shown(Control::DetailLine),
            "Note: " + list + " does not end in .ird, as Software files do.");
  ui_->answerYes = false;
  window_->OnStart();
  EXPECT_NE(ui_->questions.at(1).find("Switch to Channels mode"), std::string::npos);
  ASSERT_TRUE(Idle());
  EXPECT_EQ(worker_.request.mode, MODE_SOFTWARE);
}

TEST_F(WindowTest, NamesFromOutsideAreShownEscapedAndUsedAsTheyAre) {
  ports_ = {Port("Box\x1b[2J", "/dev/a")};
  Open();
  EXPECT_EQ(ui_->entries[Control::PortList], std::vector<std::string>{"Box\\x1b[2J \u2014 /dev/a"});
  const std::string odd = File("odd\nname.ird");
  window_->OnDrop({odd});
  EXPECT_EQ(Shown(Control::PathField), dir_.File("odd\\x0aname.ird"));
  window_->OnPortChosen(0);  // the field shows the escaped name: the path stays as it was
  Type(Shown(Control::PathField));
  window_->OnStart();
  worker_.released = true;
  ASSERT_TRUE(Idle());
  EXPECT_EQ(worker_.request.path, odd);

  Type(dir_.File("gone\r.ird"));
  window_->OnStart();
  EXPECT_EQ(Shown(Control::DetailLine).find("Cannot read " + dir_.File("gone\\x0d.ird")), 0u);
}

// The list follows the hardware: USB adapters first, the selection staying on its device, the
// stored port looked for again when that device goes.
TEST_F(WindowTest, PortListOrdersUsbFirstAndFollowsTheHardware) {
  ports_ = {Port("Communications Port (ttyS0)", "/dev/ttyS0"),
            Port("USB Serial (ttyUSB0)", "/dev/ttyUSB0", true)};
  Open();
  ASSERT_EQ(ui_->entries[Control::PortList].size(), 2u);
  EXPECT_EQ(ui_->entries[Control::PortList][0].find("USB Serial"), 0u);
  EXPECT_EQ(ui_->selected[Control::PortList], 0);
  const std::string image = File("image.ird");
  Type(image);

  ports_.insert(ports_.begin(), Port("USB Serial (ttyUSB1)", "/dev/ttyUSB1", true));
  window_->OnPortsChanged();
  EXPECT_EQ(ui_->selected[Control::PortList], 1);  // still ttyUSB0
  window_->OnPortChosen(1);
  ports_.erase(ports_.begin() + 2);
  window_->OnPortsChanged();
  EXPECT_EQ(ui_->selected[Control::PortList], -1);  // the stored name is gone with it
  window_->OnStart();
  EXPECT_EQ(Shown(Control::StatusLine), "No port selected.");
  EXPECT_EQ(Shown(Control::PathField), image);
  PortList kinds = {Port("s", "/s"), Port("v", "/v"), Port("u", "/u", true)};
  kinds[1].virtualPort = true;
  kinds = OrderForList(kinds);
  EXPECT_EQ(kinds[0].devicePath + kinds[1].devicePath + kinds[2].devicePath, "/u/v/s");
  // A name that names its device already (Windows: "... (COM3)" opens COM3) is not repeated.
  EXPECT_EQ(EntryText(Port("USB Serial Port (COM3)", "COM3")), "USB Serial Port (COM3)");
}

// Nobody may be there to click: a run ends by itself with the transfer's status, and a run
// that cannot start says why on stderr and ends with 1.
class CommandLineTest : public WindowTest, public ::testing::WithParamInterface<WorkerOutcome> {};

TEST_P(CommandLineTest, RunEndsWithTheTransfersStatusAndKeepsTheFileUnderTheStoredMode) {
  store_.values = {{"port", "USB B"}, {"mode", int64_t{MODE_SOFTWARE}}};
  worker_.outcome = GetParam();
  std::filesystem::current_path(dir_.Path());
  File("list.fdu");
  Open("./list.fdu");
  link_.clock.Advance(4000);
  worker_.released = true;
  ASSERT_TRUE(PumpUntil([&] { return ui_->closedWith.has_value(); }));
  EXPECT_EQ(*ui_->closedWith, GetParam() == WorkerOutcome::Completed ? 0 : 1);
  EXPECT_EQ(worker_.request.mode, MODE_CHANNELS);
  EXPECT_EQ(worker_.request.path, dir_.File("list.fdu"));
  EXPECT_EQ(store_.Text("softfile"), dir_.File("list.fdu"));
  EXPECT_EQ(store_.Number("mode"), MODE_SOFTWARE);
  // A channel list: its packing is the first status, before anyone is asked to reset.
  EXPECT_NE(std::ranges::find(ui_->printed, "Packing the channel list..."), ui_->printed.end());
  // A completed transfer shows all it moved, whatever the worker reports on its way out.
  if (GetParam() != WorkerOutcome::Completed) return;
  EXPECT_EQ(Shown(Control::StatusLine), "Transfer complete !");
  EXPECT_EQ(Shown(Control::PercentLabel), "100%");
  EXPECT_EQ(ui_->progress, 100);
  EXPECT_EQ(Shown(Control::ProgressText), "4096 bytes sent in 0:04.");
}

INSTANTIATE_TEST_SUITE_P(Outcomes, CommandLineTest,
                         ::testing::Values(WorkerOutcome::Completed, WorkerOutcome::Failed));

TEST_F(WindowTest, CommandLineRunThatCannotStartEndsWithOne) {
  store_.values = {{"port", "USB A"}};
  link_.openResult = OpenResult::Busy;
  Open(File("image.ird"));
  ASSERT_TRUE(PumpUntil([&] { return ui_->closedWith.has_value(); }));
  EXPECT_EQ(*ui_->closedWith, 1);
  EXPECT_EQ(ui_->printed.back().find("Open port failed!\n"), 0u);

  ports_.clear();
  Open(File("image.ird"));
  ASSERT_TRUE(PumpUntil([&] { return ui_->closedWith.has_value(); }));
  EXPECT_EQ(*ui_->closedWith, 1);
  EXPECT_TRUE(ui_->boxes.empty());
  EXPECT_EQ(ui_->printed, std::vector<std::string>{"Not available Serial Port"});
}

// No port is ever guessed for a send nobody watches: the window waits, the file filled in,
// and sends it when the user has chosen the port and pressed the button.
TEST_F(WindowTest, CommandLineRunWithoutARememberedPortWaitsForTheUser) {
  const std::string list = File("list.fdu");
  for (const std::string stored : {"", "Gone\x1b[2J"}) {
    if (!stored.empty()) store_.values["port"] = stored;
    Open(list);
    ui_->RunPosted();
    EXPECT_EQ(worker_.launches, 0);
    EXPECT_FALSE(ui_->closedWith);
    EXPECT_EQ(ui_->selected[Control::PortList], -1);
    EXPECT_EQ(ui_->selected[Control::ModeList], MODE_CHANNELS);
    EXPECT_EQ(Shown(Control::PathField), list);
    EXPECT_NE(Shown(Control::DetailLine).find("choose the receiver's port, then press Download"),
              std::string::npos);
    EXPECT_NE(ui_->printed.back().find("choose the receiver's port"), std::string::npos);
    EXPECT_EQ((Shown(Control::DetailLine) + ui_->printed.back()).find('\x1b'), std::string::npos);
    if (stored.empty()) {
      EXPECT_EQ(window_->OnClose(), 1);  // closed before the file was sent
    }
  }
  window_->OnPortChosen(1);
  window_->OnStart();
  worker_.released = true;
  ASSERT_TRUE(PumpUntil([&] { return ui_->closedWith.has_value(); }));
  EXPECT_EQ(*ui_->closedWith, 0);
  EXPECT_EQ(worker_.request.mode, MODE_CHANNELS);
  EXPECT_EQ(store_.Text("port"), "USB B");
}

}  // namespace
}  // namespace kestal::window

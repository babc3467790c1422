#pragma once
// A toolkit that remembers what the window's logic showed and answers its questions as the test
// says, and a settings store in memory that keeps the seam's promises (nothing written while it
// does not exist, nor a value already stored).
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "window/core/settings_store.h"
#include "window/core/window_toolkit.h"

namespace kestal::window::testing {

// What a toolkit shows and answers; a fresh window starts from a fresh one.
struct ToolkitState {
  std::map<Control, std::string> text;
  std::map<Control, bool> disabled;
  std::map<Control, std::vector<std::string>> entries;
  std::map<Control, int> selected;
  std::optional<Control> checked;
  int progress = -1;
  std::vector<std::string> boxes, notices, questions, printed;
  std::vector<FileRequest> fileRequests;
  bool answerYes = true;
  std::optional<std::string> fileAnswer;
  int aboutShown = 0;
  std::map<WindowTimer, std::chrono::milliseconds> timers;  // the running ones
  std::optional<int> closedWith;
};

class FakeToolkit : public WindowToolkit, public ToolkitState {
 public:
  void Reset() {
    static_cast<ToolkitState&>(*this) = {};
    std::lock_guard lock(mutex_);
    posted_.clear();
  }
  bool Enabled(Control control) const {
    return !disabled.contains(control) || !disabled.at(control);
  }
  // Runs what was posted so far, as the window thread's loop would.
  void RunPosted() {
    std::vector<std::function<void()>> calls;
    {
      std::lock_guard lock(mutex_);
      calls.swap(posted_);
    }
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
  void ShowNotice(const std::string& shown) override { notices.push_back(shown); }
  bool AskYesNo(const std::string& question, const std::string&) override {
    questions.push_back(question);
    return answerYes;
  }
  std::optional<std::string> AskFileName(const FileRequest& request) override {
    fileRequests.push_back(request);
    return fileAnswer;
  }
  void ShowAbout() override { ++aboutShown; }
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
  bool exists = true;
  std::string problem;
  std::map<std::string, std::string> texts;
  std::map<std::string, int64_t> numbers;
  int writes = 0;

  bool Exists() const override { return exists; }
  std::string Problem() const override { return problem; }
  void Create() override { exists = true; }
  std::optional<std::string> Text(const std::string& name) const override {
    return texts.contains(name) ? std::optional(texts.at(name)) : std::nullopt;
  }
  std::optional<int64_t> Number(const std::string& name) const override {
    return numbers.contains(name) ? std::optional(numbers.at(name)) : std::nullopt;
  }
  void SetText(const std::string& name, const std::string& value) override {
    if (!exists || Text(name) == value) return;
    numbers.erase(name);
    texts[name] = value;
    ++writes;
  }
  void SetNumber(const std::string& name, uint32_t value) override {
    if (!exists || Number(name) == value) return;
    texts.erase(name);
    numbers[name] = value;
    ++writes;
  }
};

}  // namespace kestal::window::testing

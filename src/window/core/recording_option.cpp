#include "window/core/recording_option.h"

#include <filesystem>
#include <utility>

#include "common/printable.h"
#include "common/utf8_path.h"

namespace kestal::window {

RecordingOption::RecordingOption(CallQueue& calls) : calls_(calls) {}

RecordingOption::~RecordingOption() {
  if (recorder_) {
    Detach();
    recorder_->Finish("stopped", 1);
  }
  for (auto& [id, closer] : closers_) closer.join();
}

void RecordingOption::Detach() {
  if (setTap_) setTap_(nullptr);
}

std::string RecordingOption::Begin(const recording::RecordingHeader& header) {
  if (path_.empty()) return {};
  began_ = true;
  auto recorder = std::make_unique<recording::SessionRecorder>();
  if (!recorder->Start(path_, header)) {
    dropped_ = recorder->Problem();
    return "Not recording: " + Printable(dropped_) + ".";
  }
  recorder_ = std::move(recorder);
  if (setTap_) setTap_(recorder_.get());
  return "Recording to " + Printable(path_) + ".";
}

void RecordingOption::Cancel() {
  if (recorder_) {
    Detach();
    recorder_.reset();
    std::error_code ignored;
    std::filesystem::remove(Utf8Path(path_), ignored);
  }
  began_ = false;
  dropped_.clear();
}

void RecordingOption::End(const std::string& outcome, int exitStatus, Note done) {
  if (!began_) return;
  began_ = false;
  const std::string path = std::exchange(path_, {});
  if (!recorder_) {
    done("Not recorded: " + Printable(std::exchange(dropped_, {})) + ".");
    return;
  }
  Detach();
  const int id = nextCloser_++;
  closers_.emplace(id, std::thread([this, id, path, outcome, exitStatus, done = std::move(done),
                                    recorder = std::move(recorder_)] {
                     const std::string problem = recorder->Finish(outcome, exitStatus);
                     const std::string note =
                         problem.empty()
                             ? "Recorded to " + Printable(path) + "."
                             : "The recording is incomplete: " + Printable(problem) + ".";
                     calls_.Post([this, id, note, done] {
                       closers_.at(id).join();
                       closers_.erase(id);
                       done(note);
                     });
                   }));
}

}  // namespace kestal::window

// A worker's repeated note is left out only while handling it would change nothing shown.
#include "transfer/note_shortcut.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "transfer/controller_harness.h"

namespace kestal::testing {
namespace {

// The front end's notification path, handled at once on the calling (window) thread, with a
// record of what reached it. `dropNext` loses the next note, as a closing window does.
class CountingWindow : public TransferNotify {
 public:
  void NotifyStatus(std::unique_ptr<StatusNote> note) override {
    statuses.push_back(note->szText);
    if (dropNext) {
      dropNext = false;
      return;
    }
    controller->OnTransferStatus(std::move(note));
  }
  void NotifyProgress(int percent) override {
    progress.push_back(percent);
    if (dropNext) {
      dropNext = false;
      return;
    }
    controller->OnTransferProgress(percent);
  }
  void NotifyDone(int) override { ++others; }
  void NotifyWorkerExit(bool) override { ++others; }

  TransferController* controller = nullptr;
  std::vector<std::string> statuses;
  std::vector<int> progress;
  int others = 0;
  bool dropNext = false;
};

class NoteShortcutTest : public ::testing::Test {
 protected:
  NoteShortcutTest() {
    view.controller = &controller;
    window.controller = &controller;
  }
  void Send(int displayTime, const char* text) {
    shortcut.NotifyStatus(MakeStatusNote(displayTime, text));
  }

  TransferJob job;
  RecordingView view{job};
  GateLink link;
  TransferController controller{job, link, view};
  CountingWindow window;
  NoteShortcut shortcut{window, job};
};

TEST_F(NoteShortcutTest, RepeatedNoteIsLeftOutUntilTheLineChanges) {
  Send(-1, text::kDownloading);
  Send(-1, text::kDownloading);
  Send(-1, text::kDownloading);
  EXPECT_EQ(window.statuses.size(), 1u);
  EXPECT_EQ(view.shownStatus, text::kDownloading);

  // The controller's own text replaces the line: the next note must put it back.
  controller.ShowStatus(-1, text::kWaiting);
  Send(-1, text::kDownloading);
  EXPECT_EQ(window.statuses.size(), 2u);
  EXPECT_EQ(view.shownStatus, text::kDownloading);

  // A stop writes its text straight into the line.
  job.m_bRunning = 1;
  controller.OnStop();
  Send(-1, text::kDownloading);
  EXPECT_EQ(window.statuses.size(), 3u);
  EXPECT_EQ(view.shownStatus, text::kDownloading);

  // Progress does not touch the status line; the done note always travels.
  shortcut.NotifyProgress(5);
  shortcut.NotifyDone(1);
  shortcut.NotifyDone(1);
  Send(-1, text::kDownloading);
  EXPECT_EQ(window.statuses.size(), 3u);
  EXPECT_EQ(window.others, 2);
}

TEST_F(NoteShortcutTest, RepeatedPercentageIsLeftOutUntilTheProgressChanges) {
  for (int percent : {0, 0, 7, 7, 7, 8}) shortcut.NotifyProgress(percent);
  EXPECT_EQ(window.progress, (std::vector<int>{0, 7, 8}));
  EXPECT_EQ(view.progressPos, 8);
  EXPECT_EQ(view.shownPercent, "8%");

  // The controller zeroes the bar itself (a stop): the same figure must be shown again.
  controller.OnStop();
  ASSERT_EQ(view.progressPos, 0);
  shortcut.NotifyProgress(8);
  EXPECT_EQ(view.progressPos, 8);

  // A figure that never reached the window does not count as shown.
  window.dropNext = true;
  shortcut.NotifyProgress(9);
  shortcut.NotifyProgress(9);
  EXPECT_EQ(window.progress, (std::vector<int>{0, 7, 8, 8, 9, 9}));
  EXPECT_EQ(view.progressPos, 9);
}

TEST_F(NoteShortcutTest, TimedTextsAndTheirCountdownAlwaysCount) {
  Send(3, text::kReadingFail);
  Send(3, text::kReadingFail);
  EXPECT_EQ(window.statuses.size(), 2u) << "a timed note restarts its countdown";

  // A note shown until replaced stops the countdown: it is not a repeat of the timed one.
  Send(-1, text::kReadingFail);
  EXPECT_EQ(window.statuses.size(), 3u);
  EXPECT_FALSE(view.TimerRunning(TIMER_STATUS));

  // A countdown that runs out clears the line.
  Send(1, text::kCommunicationError);
  for (int tick = 0; tick <= 20; ++tick) controller.OnTimer(TIMER_STATUS);
  ASSERT_EQ(view.shownStatus, "");
  Send(-1, text::kCommunicationError);
  EXPECT_EQ(window.statuses.size(), 5u);
  EXPECT_EQ(view.shownStatus, text::kCommunicationError);
}

TEST_F(NoteShortcutTest, NoteThatWasNeverHandledDoesNotCountAsShown) {
  Send(-1, text::kWaiting);
  window.dropNext = true;
  Send(-1, text::kDownloading);
  Send(-1, text::kDownloading);
  EXPECT_EQ(window.statuses.size(), 3u);
  EXPECT_EQ(view.shownStatus, text::kDownloading);

  // While the window closes, handlers only free notes, so nothing counts as shown.
  job.m_bClosing = 1;
  Send(-1, text::kComplete);
  Send(-1, text::kComplete);
  EXPECT_EQ(window.statuses.size(), 5u);
}

}  // namespace
}  // namespace kestal::testing

// The controller on the window thread (the test's thread), with fake workers on real threads.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <climits>

#include "transfer/controller_harness.h"
#include "transfer/worker_harness.h"

namespace kestal::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::Pair;

// What a fake worker saw of the job when it started.
struct WorkerStart {
  std::atomic<int> count{0};
  std::atomic<int> fileSize{-1};
  std::atomic<Link*> link{nullptr};
  std::atomic<int> direction{-1};
};

class TransferControllerTest : public ::testing::Test {
 protected:
  TransferControllerTest() {
    job.m_hNotifyWnd = &window;
    view.controller = &controller;
    window.controller = &controller;
    view.path = files.Write("list.fdu", RandomBytes(100, 1));
    controller.SetWorkers(Recording(&TransferControllerTest::WaitForStop),
                          Recording(&TransferControllerTest::WaitForStop));
  }
  ~TransferControllerTest() override {
    // The front end makes notifications return at once before the controller goes.
    job.m_bClosing = 1;
    window.CloseWindow();
  }

  // A worker procedure that records its start, then behaves like `body`.
  TransferController::WorkerProc Recording(int (TransferControllerTest::*body)(TransferJob&)) {
    return [this, body](TransferJob& j) {
      started.fileSize = j.m_nFileSize.load();
      started.link = j.m_pLink;
      started.direction = j.m_nDirection.load();
      ++started.count;
      return (this->*body)(j);
    };
  }

 public:  // worker bodies, named by the tests as member pointers
  // Waits on the link until the transfer is ended, then sends its closing notes, as a worker does.
  int WaitForStop(TransferJob& j) {
    while (j.m_bRunning.load() != 0) j.m_pLink->WaitForData(UINT64_MAX);
    j.m_hNotifyWnd->NotifyStatus(MakeStatusNote(-1, "worker ended"));
    j.m_hNotifyWnd->NotifyProgress(0);
    return 0;
  }
  // Reports a little progress and a completed transfer.
  int CompleteAtOnce(TransferJob& j) {
    j.m_hNotifyWnd->NotifyStatus(MakeStatusNote(-1, text::kDownloading));
    j.m_hNotifyWnd->NotifyProgress(42);
    j.m_hNotifyWnd->NotifyProgress(100);
    j.m_hNotifyWnd->NotifyDone(1);
    EXPECT_EQ(j.m_bRunning.load(), 0);  // the done notice has ended the transfer
    j.m_hNotifyWnd->NotifyStatus(MakeStatusNote(-1, text::kComplete));
    return 1;
  }

 protected:
  bool WaitForWorkerExit(size_t count = 1) {
    return window.PumpUntil([&] { return window.exits.size() >= count; });
  }
  void Tick(int id, int times) {
    for (int i = 0; i < times; ++i) controller.OnTimer(id);
  }
  // A second controller that the test destroys, with a waiting worker started; the fixture's
  // own controller takes the notes again once it is gone.
  std::unique_ptr<TransferController> StartOwnedController() {
    auto owned = std::make_unique<TransferController>(job, link, view);
    view.controller = window.controller = owned.get();
    owned->SetWorkers(Recording(&TransferControllerTest::WaitForStop),
                      Recording(&TransferControllerTest::WaitForStop));
    owned->StartTransfer();
    return owned;
  }
  void Destroy(std::unique_ptr<TransferController>& owned) {
    owned.reset();  // joins the worker
    view.controller = window.controller = &controller;
  }
  std::vector<int> EnableOrder() const {
    std::vector<int> ids;
    for (const auto& call : view.enableCalls) ids.push_back(call.first);
    return ids;
  }

  ScratchDir files;
  TransferJob job;
  GateLink link;
  RecordingView view{job};
  WindowQueue window{job};
  WorkerStart started;
  TransferController controller{job, link, view};
};

// --- Status line -------------------------------------------------------------------------

class StatusCountdownTest : public TransferControllerTest,
                            public ::testing::WithParamInterface<int> {};

TEST_P(StatusCountdownTest, TextIsClearedOnTheTwentyTimesTPlusFirstTick) {
  const int displayTime = GetParam();
  controller.ShowStatus(displayTime, "Hello");
  EXPECT_EQ(view.shownStatus, "Hello");
  ASSERT_TRUE(view.TimerRunning(TIMER_STATUS));
  EXPECT_EQ(view.timers[TIMER_STATUS], STATUS_TICK_MS);

  Tick(TIMER_STATUS, 20 * displayTime);
  EXPECT_EQ(view.shownStatus, "Hello");
  EXPECT_TRUE(view.TimerRunning(TIMER_STATUS));
  Tick(TIMER_STATUS, 1);
  EXPECT_EQ(view.shownStatus, "");
  EXPECT_FALSE(view.TimerRunning(TIMER_STATUS));
}

INSTANTIATE_TEST_SUITE_P(DisplayTimes, StatusCountdownTest, ::testing::Values(0, 1, 3));

TEST_F(TransferControllerTest, SpecialDisplayTimesAndTexts) {
  controller.ShowStatus(-5, "Brief");  // negative other than -1: cleared on the first tick
  EXPECT_EQ(view.shownStatus, "Brief");
  Tick(TIMER_STATUS, 1);
  EXPECT_EQ(view.shownStatus, "");

  controller.ShowStatus(3, "Old");
  controller.ShowStatus(-1, "New");  // until replaced: stops a running countdown
  EXPECT_FALSE(view.TimerRunning(TIMER_STATUS));
  EXPECT_EQ(view.shownStatus, "New");

  controller.ShowStatus(3, "Stays");
  Tick(TIMER_STATUS, 10);
  controller.ShowStatus(3, "");  // an empty text stops the countdown and keeps the line
  EXPECT_FALSE(view.TimerRunning(TIMER_STATUS));
  EXPECT_EQ(view.shownStatus, "Stays");

  controller.ShowStatus(INT_MAX, "Long");  // does not overflow into an early clear
  Tick(TIMER_STATUS, 100);
  EXPECT_EQ(view.shownStatus, "Long");

  const auto note = MakeStatusNote(3, std::string(80, 'x'));  // cut to 51 characters
  EXPECT_EQ(std::string(note->szText), std::string(51, 'x'));
  EXPECT_EQ(note->nDisplayTime, 3);
}

// --- Controls ----------------------------------------------------------------------------

TEST_F(TransferControllerTest, ToggleSwitchesInputsInOrderAndToComputerOnlyOutsideSoftware) {
  job.m_nMode = MODE_SOFTWARE;
  controller.m_bControlsEnabled = 0;
  controller.ToggleControls();
  EXPECT_THAT(EnableOrder(), ElementsAre(IDC_FILE, IDC_PATH, IDC_PORT, IDC_MODE, IDC_TO_RECEIVER,
                                         IDC_TO_COMPUTER));
  EXPECT_EQ(view.EnabledStates()[IDC_TO_RECEIVER], true);
  EXPECT_EQ(view.EnabledStates()[IDC_TO_COMPUTER], false);

  job.m_nMode = MODE_CHANNELS;
  controller.m_bControlsEnabled = 0;
  controller.ToggleControls();
  EXPECT_EQ(view.EnabledStates()[IDC_TO_COMPUTER], true);

  controller.ToggleControls();
  for (const auto& [id, enabled] : view.EnabledStates()) EXPECT_FALSE(enabled) << id;
  EXPECT_EQ(controller.m_bControlsEnabled, 0);
}

// --- Starting ----------------------------------------------------------------------------

TEST_F(TransferControllerTest, StartRunsTheWorkerOnTheOpenLinkAndStopEndsIt) {
  controller.StartTransfer();

  EXPECT_EQ(link.opens.load(), 1);
  EXPECT_EQ(link.baud.load(), 115200u);
  EXPECT_EQ(link.LastDevice(), "/dev/ttyTEST0");
  EXPECT_EQ(view.shownStatus, text::kWaiting);
  EXPECT_FALSE(view.TimerRunning(TIMER_STATUS));
  EXPECT_THAT(view.timers, ElementsAre(Pair(TIMER_WATCHDOG, 1600)));
  EXPECT_EQ(job.m_bRunning.load(), 1);
  EXPECT_EQ(job.m_bTransferActive.load(), 1);
  EXPECT_EQ(job.m_nWatchdog.load(), -1);
  EXPECT_EQ(job.m_pLink, &link);
  EXPECT_EQ(controller.m_bControlsEnabled, 0);
  for (const auto& [id, enabled] : view.EnabledStates()) EXPECT_FALSE(enabled) << id;
  EXPECT_EQ(view.shownPercent, "0%");
  EXPECT_TRUE(controller.WorkerAlive());

  // Stop while running says so at once and ends the transfer; the worker's own note follows.
  controller.OnStop();
  EXPECT_EQ(view.shownStatus, text::kInterrupted);
  EXPECT_FALSE(view.TimerRunning(TIMER_STATUS));  // set directly, no countdown
  EXPECT_EQ(job.m_bRunning.load(), 0);
  EXPECT_EQ(job.m_bTransferActive.load(), 0);
  EXPECT_FALSE(view.TimerRunning(TIMER_WATCHDOG));
  EXPECT_FALSE(link.IsOpen());
  EXPECT_EQ(view.EnabledStates()[IDC_FILE], true);
  ASSERT_TRUE(WaitForWorkerExit());
  EXPECT_EQ(view.shownStatus, "worker ended");
  EXPECT_EQ(started.count.load(), 1);
  EXPECT_EQ(started.fileSize.load(), 100);
  EXPECT_EQ(started.link.load(), &link);
  EXPECT_FALSE(controller.WorkerAlive());
}

TEST_F(TransferControllerTest, TowardsTheComputerRunsTheUploadWorkerWithoutMeasuring) {
  std::atomic<int> uploads{0};
  controller.SetWorkers(Recording(&TransferControllerTest::WaitForStop),
                        [&](TransferJob& j) {
                          ++uploads;
                          EXPECT_EQ(j.m_nFileSize.load(), 5);
                          return WaitForStop(j);
                        });
  view.direction = DIR_TO_COMPUTER;
  job.m_nFileSize = 5;
  controller.StartTransfer();
  controller.OnStop();
  ASSERT_TRUE(WaitForWorkerExit());
  EXPECT_EQ(uploads.load(), 1);
  EXPECT_EQ(started.count.load(), 0);
}

// 0: no path, 1: no port selected, 2: the port will not open, 3: a file over 2 GB.
class RefusedStartTest : public TransferControllerTest, public ::testing::WithParamInterface<int> {};

TEST_P(RefusedStartTest, ShowsWhyAndStartsNothing) {
  std::string expected = text::kOpenPortFailed;
  int opens = 0;
  if (GetParam() == 0) {
    view.path.clear();
    expected = text::kSelectFile;
  } else if (GetParam() == 1) {
    view.portSelected = false;
  } else if (GetParam() == 2) {
    link.failOpen = true;
    opens = 1;
  } else {
    view.path = files.Path("huge.ird");
    const int fd = ::open(view.path.c_str(), O_CREAT | O_WRONLY, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, off_t{INT_MAX} + 1), 0);  // sparse: takes no room
    ::close(fd);
    expected = text::kFileSizeOver;
  }

  controller.StartTransfer();
  EXPECT_EQ(view.shownStatus, expected);
  EXPECT_EQ(controller.m_nStatusCountdown, 60);
  EXPECT_EQ(link.opens.load(), opens);
  EXPECT_FALSE(view.TimerRunning(TIMER_WATCHDOG));
  EXPECT_TRUE(view.enableCalls.empty());
  EXPECT_EQ(job.m_bRunning.load(), 0);
  EXPECT_FALSE(controller.WorkerAlive());
}

INSTANTIATE_TEST_SUITE_P(Reasons, RefusedStartTest, ::testing::Range(0, 4));

// No second start while a transfer runs or its worker still winds down; the ended worker is
// reaped by the next start.
TEST_F(TransferControllerTest, NoSecondStartWhileAWorkerLives) {
  controller.StartTransfer();
  job.m_nWatchdog = 2;
  view.path = files.Write("other.fdu", RandomBytes(5, 1));
  controller.StartTransfer();
  EXPECT_EQ(link.opens.load(), 1);
  EXPECT_EQ(view.reads, 1);
  EXPECT_EQ(job.m_nWatchdog.load(), 2);
  EXPECT_NE(job.m_strFilePath, view.path);
  EXPECT_EQ(job.m_bRunning.load(), 1);
  EXPECT_TRUE(link.IsOpen());

  controller.OnStop();
  // The stopped worker now waits for the window to take its closing notes.
  controller.StartTransfer();
  EXPECT_EQ(link.opens.load(), 1);

  ASSERT_TRUE(WaitForWorkerExit());
  controller.StartTransfer();
  EXPECT_EQ(link.opens.load(), 2);
  controller.OnStop();
  ASSERT_TRUE(WaitForWorkerExit(2));
  EXPECT_EQ(started.count.load(), 2);
}

TEST_F(TransferControllerTest, EveryStartTowardsTheReceiverMeasuresTheFile) {
  controller.StartTransfer();
  controller.OnStop();
  ASSERT_TRUE(WaitForWorkerExit());
  EXPECT_EQ(started.fileSize.load(), 100);

  files.Write("list.fdu", RandomBytes(250, 2));
  job.m_nFileSize = 100;  // a stale size must not be served
  controller.StartTransfer();
  controller.OnStop();
  ASSERT_TRUE(WaitForWorkerExit(2));
  EXPECT_EQ(started.fileSize.load(), 250);

  view.path = files.Path("missing.fdu");
  controller.StartTransfer();
  controller.OnStop();
  ASSERT_TRUE(WaitForWorkerExit(3));
  EXPECT_EQ(started.fileSize.load(), 0);  // the worker reports the missing file
}

// --- Watchdog ----------------------------------------------------------------------------

// The watchdog never trips while the worker waits for the first request; once armed, it trips
// on the fourth tick after the last reset.
TEST_F(TransferControllerTest, WatchdogTripsOnTheFourthTickAfterTheLastReset) {
  controller.StartTransfer();
  Tick(TIMER_WATCHDOG, 1000);
  EXPECT_EQ(job.m_bRunning.load(), 1);
  EXPECT_EQ(job.m_nWatchdog.load(), -1);
  EXPECT_EQ(view.shownStatus, text::kWaiting);

  job.m_nWatchdog = 0;  // the worker handled a frame
  Tick(TIMER_WATCHDOG, 2);
  job.m_nWatchdog = 0;  // and another
  Tick(TIMER_WATCHDOG, 3);
  EXPECT_EQ(job.m_bRunning.load(), 1);
  EXPECT_EQ(job.m_nWatchdog.load(), 3);

  Tick(TIMER_WATCHDOG, 1);
  EXPECT_EQ(job.m_bWatchdogTripped.load(), 1);
  EXPECT_EQ(job.m_bRunning.load(), 0);
  EXPECT_EQ(job.m_bTransferActive.load(), 0);
  EXPECT_EQ(job.m_nWatchdog.load(), -1);
  EXPECT_FALSE(view.TimerRunning(TIMER_WATCHDOG));
  EXPECT_EQ(view.shownStatus, text::kExternalError);
  EXPECT_EQ(controller.m_nStatusCountdown, 60);
  EXPECT_EQ(view.shownPercent, "0%");
  EXPECT_FALSE(link.IsOpen());
  EXPECT_EQ(controller.m_bControlsEnabled, 1);
  ASSERT_TRUE(WaitForWorkerExit());
}

TEST_F(TransferControllerTest, WatchdogTickWithNoActiveTransferOnlyStopsItsTimer) {
  controller.ShowStatus(-1, text::kIdle);
  view.timers[TIMER_WATCHDOG] = WATCHDOG_PERIOD_MS;
  job.m_nWatchdog = 3;
  Tick(TIMER_WATCHDOG, 1);
  EXPECT_FALSE(view.TimerRunning(TIMER_WATCHDOG));
  EXPECT_EQ(job.m_nWatchdog.load(), -1);
  EXPECT_EQ(view.shownPercent, "0%");
  EXPECT_EQ(view.shownStatus, text::kIdle);
  EXPECT_EQ(job.m_bWatchdogTripped.load(), 0);
  EXPECT_EQ(link.closes.load(), 0);
}

// --- Stopping and ending -----------------------------------------------------------------

TEST_F(TransferControllerTest, StopWhileIdleResetsProgressAndKeepsTheStatus) {
  controller.ShowStatus(-1, text::kIdle);
  controller.SetProgress(70);
  EXPECT_EQ(view.progressPos, 70);
  EXPECT_EQ(view.shownPercent, "70%");
  controller.OnStop();
  EXPECT_EQ(view.shownPercent, "0%");
  EXPECT_EQ(view.progressPos, 0);
  EXPECT_EQ(view.shownStatus, text::kIdle);
  EXPECT_EQ(controller.m_bControlsEnabled, 1);
  EXPECT_EQ(view.EnabledStates()[IDC_FILE], true);
}

TEST_F(TransferControllerTest, WorkerEndsTheTransferThroughItsNotifications) {
  controller.SetWorkers(Recording(&TransferControllerTest::CompleteAtOnce),
                        Recording(&TransferControllerTest::CompleteAtOnce));
  controller.StartTransfer();
  ASSERT_TRUE(WaitForWorkerExit());

  EXPECT_THAT(window.exits, ElementsAre(true));
  EXPECT_EQ(view.shownStatus, text::kComplete);
  EXPECT_EQ(view.shownPercent, "0%");  // the end resets the bar
  EXPECT_EQ(job.m_bRunning.load(), 0);
  EXPECT_EQ(job.m_bTransferActive.load(), 0);
  EXPECT_FALSE(view.TimerRunning(TIMER_WATCHDOG));
  EXPECT_FALSE(link.IsOpen());
  EXPECT_EQ(controller.m_bControlsEnabled, 1);
  EXPECT_FALSE(controller.WorkerAlive());

  controller.StartTransfer();  // the finished thread was reaped; a new one starts
  EXPECT_EQ(link.opens.load(), 2);
  ASSERT_TRUE(WaitForWorkerExit(2));
}

TEST_F(TransferControllerTest, ClosingWhileAWorkerRunsDropsItsNotesAndJoinsIt) {
  auto owned = StartOwnedController();
  ASSERT_TRUE(owned->WorkerAlive());

  owned->OnClose();
  EXPECT_EQ(job.m_bClosing.load(), 1);
  EXPECT_EQ(job.m_bRunning.load(), 0);
  EXPECT_EQ(job.m_bTransferActive.load(), 0);
  EXPECT_FALSE(link.IsOpen());
  window.CloseWindow();
  const int refreshes = view.refreshes;
  owned->FinishTransfer();
  owned->ShowStatus(3, "ignored");
  owned->OnTransferStatus(MakeStatusNote(-1, "ignored"));
  owned->OnTransferProgress(50);
  owned->OnTransferDone(1);
  EXPECT_EQ(view.refreshes, refreshes);
  EXPECT_EQ(view.shownStatus, text::kWaiting);

  Destroy(owned);  // the worker returns on its own
  EXPECT_EQ(started.count.load(), 1);
}

TEST_F(TransferControllerTest, DestroyingTheControllerStopsAndJoinsAWaitingWorker) {
  auto owned = StartOwnedController();
  job.m_bClosing = 1;
  window.CloseWindow();

  Destroy(owned);
  EXPECT_EQ(started.count.load(), 1);
  EXPECT_EQ(job.m_bRunning.load(), 0);
}

}  // namespace
}  // namespace kestal::testing

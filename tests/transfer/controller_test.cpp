// The controller's own rules, driven by calling its timer handler directly: the watchdog, the
// status line's countdown, and a start while busy. Its workers are scripted here; the real ones
// meet the emulator in the end-to-end table.
#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <map>
#include <thread>

#include "link/open_failure.h"
#include "support/fake_link.h"
#include "support/scratch_dir.h"
#include "transfer/status_texts.h"
#include "transfer/transfer_controller.h"

namespace kestal {
namespace {

using std::chrono::milliseconds;

struct FrontEnd : TransferFrontEnd {
  std::vector<TransferView> views;
  std::map<TransferTimer, milliseconds> timers;  // the running ones
  std::vector<WorkerOutcome> ended;
  void Show(const TransferView& view) override { views.push_back(view); }
  void StartTimer(TransferTimer timer, milliseconds period) override { timers[timer] = period; }
  void StopTimer(TransferTimer timer) override { timers.erase(timer); }
  void TransferEnded(WorkerOutcome outcome) override { ended.push_back(outcome); }
};

std::atomic<int> launches{0};

// Arms the watchdog as a worker does at the receiver's request, then runs until stopped.
WorkerOutcome ArmedWorker(WorkerContext& context) {
  ++launches;
  context.state.watchdog.store(0);
  context.notify.NotifyStatus(kUntilReplaced, text::kDownloading);
  while (context.state.running.load()) std::this_thread::yield();
  // Notes of a block served as the stop came: out of date once they arrive.
  context.notify.NotifyStatus(kUntilReplaced, text::kDownloading);
  context.notify.NotifyProgress({40, 400, 1000});
  return WorkerOutcome::Stopped;
}

class ControllerTest : public ::testing::Test {
 protected:
  ControllerTest() {
    launches = 0;
    controller_.SetWorkers(ArmedWorker, ArmedWorker);
  }
  // The controller's destructor needs the worker's notifications released first.
  ~ControllerTest() override { calls_.Abort(); }

  // Handles the worker's notifications on this thread (the front end's) until `done`.
  void PumpUntil(const std::function<bool()>& done) {
    while (!done()) {
      calls_.RunPending();
      std::this_thread::yield();
    }
  }
  const TransferView& Shown() const { return front_.views.back(); }
  void StartAndWaitForRequest() {
    controller_.StartTransfer({"list.fdu", MODE_CHANNELS, DIR_TO_COMPUTER}, "/dev/ttyS0");
    PumpUntil([this] { return Shown().status == text::kDownloading; });
  }

  testing::FakeLink link_;
  FrontEnd front_;
  CallQueue calls_{[] {}};
  TransferController controller_{link_, front_, calls_};
};

TEST_F(ControllerTest, WatchdogTripsOnlyWhenTheCounterExceedsItsLimit) {
  StartAndWaitForRequest();
  EXPECT_EQ(front_.timers.at(TransferTimer::Watchdog), milliseconds(1600));
  EXPECT_TRUE(Shown().running);
  EXPECT_FALSE(Shown().inputsEnabled);
  EXPECT_FALSE(Shown().awaitingRequest);
  for (int tick = 0; tick < kWatchdogLimit; ++tick) controller_.OnTimer(TransferTimer::Watchdog);
  EXPECT_TRUE(Shown().running);

  controller_.OnTimer(TransferTimer::Watchdog);
  EXPECT_EQ(Shown().status, text::kExternalError);
  EXPECT_FALSE(Shown().running);
  EXPECT_TRUE(Shown().inputsEnabled);
  EXPECT_EQ(Shown().percentText, "0%");
  EXPECT_EQ(front_.timers.count(TransferTimer::Watchdog), 0u);
  EXPECT_TRUE(controller_.State().watchdogTripped.load());
  PumpUntil([this] { return !front_.ended.empty(); });
  EXPECT_EQ(Shown().status, text::kExternalError);
  EXPECT_EQ(front_.ended, std::vector<WorkerOutcome>{WorkerOutcome::Stopped});
  EXPECT_FALSE(controller_.Busy());
}

TEST_F(ControllerTest, TimedStatusStaysTwentyTicksPerSecondThenClears) {
  controller_.ShowStatus(3, text::kFileSizeOver);
  EXPECT_EQ(front_.timers.at(TransferTimer::Status), milliseconds(50));
  for (int tick = 0; tick < 60; ++tick) controller_.OnTimer(TransferTimer::Status);
  EXPECT_EQ(Shown().status, text::kFileSizeOver);
  controller_.OnTimer(TransferTimer::Status);
  EXPECT_EQ(Shown().status, "");
  EXPECT_EQ(front_.timers.count(TransferTimer::Status), 0u);

  // A text until replaced stops the countdown of the one before it.
  controller_.ShowStatus(3, text::kSelectFile);
  controller_.ShowStatus(kUntilReplaced, text::kWaiting);
  EXPECT_EQ(front_.timers.count(TransferTimer::Status), 0u);
}

TEST_F(ControllerTest, SecondStartWhileBusyChangesNothing) {
  StartAndWaitForRequest();
  const size_t shownBefore = front_.views.size();
  controller_.StartTransfer({"", MODE_SOFTWARE, DIR_TO_RECEIVER}, "");
  controller_.StartTransfer({"other.fdu", MODE_CHANNELS, DIR_TO_COMPUTER}, "/dev/ttyS0");
  EXPECT_EQ(front_.views.size(), shownBefore);
  EXPECT_EQ(launches.load(), 1);

  controller_.OnStop();
  EXPECT_EQ(Shown().status, text::kInterrupted);
  EXPECT_TRUE(Shown().inputsEnabled);
  PumpUntil([this] { return !front_.ended.empty(); });
  EXPECT_EQ(Shown().status, text::kInterrupted);
  EXPECT_EQ(Shown().percent, 0);
  EXPECT_FALSE(controller_.Busy());
}

// A failure, and why under it, waits for the user, who may be at the receiver when it comes.
TEST_F(ControllerTest, StartRefusedWithoutFileOrPortShowsWhyUntilTheUserActs) {
  controller_.StartTransfer({"", MODE_SOFTWARE, DIR_TO_RECEIVER}, "/dev/ttyS0");
  EXPECT_EQ(Shown().status, text::kSelectFile);
  link_.openResult = OpenResult::Busy;
  controller_.StartTransfer({"list.fdu", MODE_CHANNELS, DIR_TO_COMPUTER}, "/dev/ttyS0");
  EXPECT_EQ(Shown().status, text::kOpenPortFailed);
  EXPECT_EQ(front_.timers.count(TransferTimer::Status), 0u);
  EXPECT_EQ(front_.timers.count(TransferTimer::Watchdog), 0u);
  EXPECT_EQ(Shown().detail, DescribeOpenFailure(OpenResult::Busy, "/dev/ttyS0"));
  EXPECT_FALSE(controller_.Busy());
  EXPECT_EQ(launches.load(), 0);
  controller_.UserActed();
  EXPECT_EQ(Shown().status, "");
  EXPECT_EQ(Shown().detail, "");  // goes with its status
}

// Runs until stopped without the receiver ever asking.
WorkerOutcome UnaskedWorker(WorkerContext& context) {
  while (context.state.running.load()) std::this_thread::yield();
  // Notes of a block served as the stop came: out of date once they arrive.
  context.notify.NotifyStatus(kUntilReplaced, text::kDownloading);
  context.notify.NotifyProgress({40, 400, 1000});
  return WorkerOutcome::Stopped;
}

TEST_F(ControllerTest, BadFileIsRefusedBeforeThePortOpens) {
  testing::ScratchDir dir;
  link_.openResult = OpenResult::Failed;  // an open would show "Open port failed!"
  const std::string missing = dir.File("none.ird");
  const auto refused = [this](const std::string& why) {
    return Shown().status == text::kFileOpenError && Shown().detail == why;
  };
  controller_.StartTransfer({missing, MODE_SOFTWARE, DIR_TO_RECEIVER}, "/dev/ttyS0");
  EXPECT_TRUE(refused("Cannot read " + missing + ": No such file or directory"));
  controller_.StartTransfer({dir.Path().string(), MODE_SOFTWARE, DIR_TO_RECEIVER}, "/dev/ttyS0");
  EXPECT_TRUE(refused("Cannot read " + dir.Path().string() + ": not a regular file"));
  const std::string target = dir.File("gone/list.fdu");
  controller_.StartTransfer({target, MODE_CHANNELS, DIR_TO_COMPUTER}, "/dev/ttyS0");
  EXPECT_TRUE(
      refused("Cannot write " + target + ": folder " + dir.File("gone") + " does not exist."));
  EXPECT_EQ(front_.timers.count(TransferTimer::Watchdog), 0u);
}

TEST_F(ControllerTest, WaitingShowsTheTimeAndEvery15SecondsAHint) {
  controller_.SetWorkers(UnaskedWorker, UnaskedWorker);
  // A channel list is packed before the receiver is woken: no reset asked for, nobody waited for.
  const testing::ScratchDir dir;
  testing::WriteBytes(dir.File("list.fdu"), {1});
  controller_.StartTransfer({dir.File("list.fdu"), MODE_CHANNELS, DIR_TO_RECEIVER}, "/dev/ttyS0");
  EXPECT_EQ(Shown().status, text::kPacking);
  link_.clock.Advance(15000);
  controller_.OnTimer(TransferTimer::Watchdog);
  EXPECT_FALSE(Shown().awaitingRequest);
  EXPECT_EQ(Shown().detail, "");
  controller_.OnStop();
  PumpUntil([this] { return !front_.ended.empty(); });

  controller_.StartTransfer({"list.bin", MODE_CHANNELS, DIR_TO_COMPUTER}, "/dev/ttyS0");
  const std::string warning = "Note: list.bin does not end in .fdu, as Channels files do.";
  EXPECT_EQ(Shown().status, text::kWaiting);
  EXPECT_EQ(Shown().detail, warning);
  link_.clock.Advance(14999);
  controller_.OnTimer(TransferTimer::Watchdog);
  EXPECT_EQ(Shown().detail, warning + " Waiting for 14 s.");
  link_.clock.Advance(1);
  controller_.OnTimer(TransferTimer::Watchdog);
  EXPECT_NE(Shown().detail.find("Waiting for 15 s. No request yet: reset or power-cycle"),
            std::string::npos);
  EXPECT_TRUE(Shown().running);  // waiting never trips the watchdog
  controller_.OnStop();
  EXPECT_EQ(Shown().detail, "");
  PumpUntil([this] { return front_.ended.size() == 2; });
}

// A station's port serves one receiver after another: a new transfer shows none of the bytes
// the last one moved (its unit would be logged with them).
TEST_F(ControllerTest, EachTransferStartsWithoutTheFiguresOfTheLast) {
  const auto moving = [](WorkerContext& context) {
    context.state.watchdog.store(0);
    context.notify.NotifyProgress({40, 400, 1000});
    return UnaskedWorker(context);
  };
  controller_.SetWorkers(moving, moving);
  controller_.StartTransfer({"list.fdu", MODE_CHANNELS, DIR_TO_COMPUTER}, "/dev/ttyS0");
  PumpUntil([this] { return Shown().bytesDone == 400; });
  controller_.OnStop();
  PumpUntil([this] { return !front_.ended.empty(); });
  controller_.StartTransfer({"list.fdu", MODE_CHANNELS, DIR_TO_COMPUTER}, "/dev/ttyS0");
  EXPECT_TRUE(Shown().running);
  EXPECT_EQ(Shown().bytesDone, 0u);
  EXPECT_EQ(Shown().bytesTotal, 0u);
  controller_.OnStop();
  PumpUntil([this] { return front_.ended.size() == 2; });
}

TEST_F(ControllerTest, AWorkerThatThrowsEndsItsTransferAsAFailure) {
  const auto thrower = [](WorkerContext& context) -> WorkerOutcome {
    context.state.watchdog.store(0);
    throw std::runtime_error("disk on fire");
  };
  controller_.SetWorkers(thrower, thrower);
  controller_.StartTransfer({"list.fdu", MODE_CHANNELS, DIR_TO_COMPUTER}, "/dev/ttyS0");
  PumpUntil([this] { return !front_.ended.empty(); });
  EXPECT_EQ(front_.ended, std::vector<WorkerOutcome>{WorkerOutcome::Failed});
  EXPECT_EQ(Shown().status, text::kExternalError);
  EXPECT_EQ(Shown().detail, "Internal error: disk on fire");
  EXPECT_FALSE(Shown().running);
  EXPECT_TRUE(Shown().inputsEnabled);
  EXPECT_FALSE(link_.IsOpen());
  EXPECT_EQ(front_.timers.count(TransferTimer::Watchdog), 0u);
}

TEST(CallQueue, AbortReleasesAWaiterWhoseCallNeverRan) {
  std::atomic<bool> posted{false};
  CallQueue calls([&] { posted = true; });
  bool ran = false;
  bool handled = true;
  std::thread poster([&] { handled = calls.PostAndWait([&] { ran = true; }); });
  while (!posted) std::this_thread::yield();
  calls.Abort();
  poster.join();
  EXPECT_FALSE(handled);
  EXPECT_FALSE(ran);
  EXPECT_FALSE(calls.Post([] {}));
}

}  // namespace
}  // namespace kestal

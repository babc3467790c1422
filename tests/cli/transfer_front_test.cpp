// The pieces behind `kestal-cli send/receive`: the event loop that stands in for the window
// thread, the front end that shows the controller's texts, and the text helpers.
#include <gtest/gtest.h>
#include <poll.h>
#include <stdio.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>
#include <vector>

#include "cli/cli_front_end.h"
#include "cli/console_output.h"
#include "cli/event_loop.h"
#include "cli/frame_trace_text.h"
#include "cli/port_choice.h"
#include "cli/progress_text.h"
#include "cli/transfer_meter.h"
#include "cli/transfer_options.h"
#include "link/frame_codec.h"
#include "link/link.h"
#include "support/fake_link.h"
#include "transfer/note_shortcut.h"
#include "transfer/transfer_controller.h"

namespace kestal::cli {
namespace {

using namespace std::chrono_literals;

// ---------------------------------------------------------------- event loop

TEST(EventLoop, WaitedTasksRunOnTheLoopThreadInPostingOrder) {
  EventLoop loop;
  std::vector<int> order;
  std::vector<std::thread::id> ranOn;
  std::thread poster([&] {
    for (int i = 0; i < 50; ++i) {
      EXPECT_TRUE(loop.PostAndWait([&, i] {
        order.push_back(i);
        ranOn.push_back(std::this_thread::get_id());
      }));
    }
    loop.Quit();
  });
  loop.Run();
  poster.join();
  ASSERT_EQ(order.size(), 50u);
  for (int i = 0; i < 50; ++i) EXPECT_EQ(order[static_cast<size_t>(i)], i);
  for (auto id : ranOn) EXPECT_EQ(id, std::this_thread::get_id());
}

TEST(EventLoop, ShutdownReleasesAWaiterWhoseTaskNeverRan) {
  EventLoop loop;  // nobody runs it
  std::atomic<bool> ran{false};
  std::atomic<int> result{-1};
  std::thread waiter([&] { result = loop.PostAndWait([&] { ran = true; }) ? 1 : 0; });
  // The waiter must be parked in PostAndWait before the shutdown for this to mean anything;
  // either way it has to come back without the task having run.
  loop.Shutdown();
  waiter.join();
  EXPECT_EQ(result.load(), 0);
  EXPECT_FALSE(ran.load());
  EXPECT_FALSE(loop.Post([] {}));
  EXPECT_FALSE(loop.PostAndWait([] {}));
}

TEST(EventLoop, TasksQueuedBeforeQuitStillRun) {
  EventLoop loop;
  int ran = 0;
  loop.Post([&] { ++ran; });
  loop.Post([&] { loop.Quit(); });
  loop.Post([&] { ++ran; });
  loop.Run();
  EXPECT_EQ(ran, 2);
}

TEST(EventLoop, PeriodicTimerTicksUntilStoppedFromItsOwnTick) {
  EventLoop loop;
  int ticks = 0;
  const auto start = EventLoop::Clock::now();
  loop.StartTimer(7, 5ms, [&] {
    if (++ticks == 3) {
      loop.StopTimer(7);
      loop.Post([&] { loop.Quit(); });
    }
  });
  loop.Run();
  EXPECT_EQ(ticks, 3);
  EXPECT_GE(EventLoop::Clock::now() - start, 15ms);
  EXPECT_FALSE(loop.TimerRunning(7));
}

TEST(EventLoop, RestartingATimerPostponesItsTick) {
  EventLoop loop;
  std::vector<int> fired;
  loop.StartTimer(1, 40ms, [&] { fired.push_back(1); loop.StopTimer(1); });
  loop.StartTimer(2, 10ms, [&] {
    fired.push_back(2);
    loop.StopTimer(2);
    loop.StartTimer(1, 60ms, [&] {  // restart: the 40 ms tick must not come
      fired.push_back(3);
      loop.StopTimer(1);
      loop.Quit();
    });
  });
  loop.Run();
  EXPECT_EQ(fired, (std::vector<int>{2, 3}));
}

// ---------------------------------------------------------------- texts

// A frame as the trace and the meter see it: without its five sync bytes.
std::vector<uint8_t> Body(uint8_t seq, uint8_t cmd, const std::vector<uint8_t>& payload) {
  const auto wire = kestal::testing::WireFrame(seq, cmd, payload);
  return {wire.begin() + 5, wire.end()};
}

TEST(FrameTraceText, LongPayloadIsCutAfterSixteenBytes) {
  std::vector<uint8_t> payload(1024);
  for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<uint8_t>(i + 0x51);
  const auto body = Body(5, CMD_BLOCK_DATA, payload);
  const std::string line = FormatFrameTrace(true, body.data(), body.size(), FRAME_OK);
  EXPECT_EQ(line.rfind("> CMD_BLOCK_DATA seq=05 len=1024 51 52 53", 0), 0u) << line;
  EXPECT_NE(line.find(" 60 ..."), std::string::npos) << line;  // 16th byte, then the cut
  EXPECT_EQ(line.find(" 61"), std::string::npos) << line;
}

TEST(FrameTraceText, ReceivedFrameWithBadSumIsMarked) {
  auto body = Body(0xFE, CMD_REQUEST, {0, 0, 0, 1});
  body.back() = static_cast<uint8_t>(body.back() + 1);
  const std::string line = FormatFrameTrace(false, body.data(), body.size(), FRAME_BAD_SUM);
  EXPECT_EQ(line, "< CMD_REQUEST seq=FE len=4 00 00 00 01 sum=" +
                      std::string(line.substr(line.find("sum=") + 4, 2)) + " BAD SUM");
}

TEST(FrameTraceText, LengthFieldBeyondTheBytesGivenIsNotRead) {
  const std::vector<uint8_t> body{1, 99, 0xFF, 0xFF, 0xAA, 0xBB};
  const std::string line = FormatFrameTrace(false, body.data(), body.size(), FRAME_OK);
  EXPECT_EQ(line, "< CMD_UNKNOWN seq=01 len=65535 AA BB");
  EXPECT_NE(FormatFrameTrace(true, body.data(), 2, FRAME_OK).find("short frame"),
            std::string::npos);
}

TEST(ProgressText, BarRateAndTimeLeftWithUnknownFiguresLeftOut) {
  ProgressFigures f;
  f.percent = 50;
  f.bytesDone = 10240;
  f.bytesTotal = 20480;
  f.bytesPerSecond = 2048;
  EXPECT_EQ(FormatProgressLine(f, 10), "[#####.....]  50%  10240/20480 B  2.0 KB/s  0:05 left");
  ProgressFigures unknown;
  unknown.percent = 130;  // clamped
  EXPECT_EQ(FormatProgressLine(unknown, 4), "[####] 100%");
  EXPECT_EQ(FormatDuration(3723), "1:02:03");
  EXPECT_EQ(FormatRate(512), "512 B/s");
}

TEST(TransferMeter, DownloadCountsTheEndOfTheBlocksTheReceiverAskedFor) {
  TransferMeter meter;
  auto req = Body(8, CMD_BLOCK_REQUEST, {0x04, 0x00, 0, 0, 0x04, 0x00});  // 1024 at 1024
  meter.OnFrame(false, req.data(), req.size(), FRAME_OK);
  EXPECT_EQ(meter.Done(), 2048u);
  auto bad = Body(9, CMD_BLOCK_REQUEST, {0x04, 0x00, 0, 1, 0, 0});
  meter.OnFrame(false, bad.data(), bad.size(), FRAME_BAD_SUM);  // not handled by the worker
  EXPECT_EQ(meter.Done(), 2048u);
}

TEST(TransferMeter, UploadCountsOnlyBlocksOfTheLengthAskedFor) {
  TransferMeter meter;
  auto size = Body(0, CMD_SIZE_REPLY, {0, 0, 0x03, 0xE8});
  meter.OnFrame(false, size.data(), size.size(), FRAME_OK);
  EXPECT_EQ(meter.ReportedSize(), 1000u);
  auto ask = Body(1, CMD_BLOCK_REQUEST, {0, 0xFF, 0, 0, 0, 0});
  meter.OnFrame(true, ask.data(), ask.size(), FRAME_OK);
  auto shortData = Body(1, CMD_BLOCK_DATA, std::vector<uint8_t>(10));
  meter.OnFrame(false, shortData.data(), shortData.size(), FRAME_OK);
  EXPECT_EQ(meter.Done(), 0u);
  auto data = Body(1, CMD_BLOCK_DATA, std::vector<uint8_t>(255));
  meter.OnFrame(false, data.data(), data.size(), FRAME_OK);
  EXPECT_EQ(meter.Done(), 255u);
}

TEST(TransferOptions, ModeFollowsTheLastThreeCharactersExactly) {
  EXPECT_EQ(ModeFromFileName("list.fdu"), MODE_CHANNELS);
  EXPECT_EQ(ModeFromFileName("LIST.FDU"), MODE_CHANNELS);
  EXPECT_EQ(ModeFromFileName("fdu"), MODE_CHANNELS);
  EXPECT_EQ(ModeFromFileName("list.Fdu"), MODE_SOFTWARE);
  EXPECT_EQ(ModeFromFileName("list.fdu.bak"), MODE_SOFTWARE);
  EXPECT_EQ(ModeFromFileName("du"), MODE_SOFTWARE);
  EXPECT_EQ(ModeFromFileName("image.ird"), MODE_SOFTWARE);
}

TEST(PortChoice, ExistingPathIsUsedAsItStandsOtherwiseTheDiscoveredName) {
  const auto existing = ResolvePort("/dev/null", {});
  ASSERT_TRUE(existing);
  EXPECT_EQ(existing->m_strDevicePath, "/dev/null");
  EXPECT_EQ(existing->m_strFriendlyName, "/dev/null");

  PortList discovered(1);
  discovered[0].m_strDevicePath = "/dev/ttyKESTALNONE0";
  discovered[0].m_strPortName = "ttyKESTALNONE0";
  discovered[0].m_strFriendlyName = "Receiver cable (ttyKESTALNONE0)";
  const auto named = ResolvePort("ttyKESTALNONE0", discovered);
  ASSERT_TRUE(named);
  EXPECT_EQ(named->m_strFriendlyName, "Receiver cable (ttyKESTALNONE0)");
  EXPECT_FALSE(ResolvePort("no-such-port", discovered));
}

// ---------------------------------------------------------------- front end + controller

// A link whose "port" opens at once; the worker can wait until the controller closes it.
class GateLink : public Link {
 public:
  int OpenLink(const PortInfo&, uint32_t) override {
    std::lock_guard lock(m_mutex);
    m_open = !refuseOpen;
    return m_open ? 1 : 0;
  }
  void CloseLink() override {
    {
      std::lock_guard lock(m_mutex);
      m_open = false;
    }
    m_closed.notify_all();
  }
  int SendBytes(const uint8_t*, int count) override { return IsOpen() ? count : 0; }
  ReceiveQueue& Queue() override { return m_queue; }
  void WaitForData(uint64_t) override {}
  const Clock& GetClock() const override { return SystemClock(); }
  bool IsOpen() const override {
    std::lock_guard lock(m_mutex);
    return m_open;
  }
  bool IsHungUp() const override { return false; }
  bool refuseOpen = false;  // the port cannot be opened
  void WaitUntilClosed() {
    std::unique_lock lock(m_mutex);
    m_closed.wait(lock, [&] { return !m_open; });
  }

 private:
  mutable std::mutex m_mutex;
  std::condition_variable m_closed;
  bool m_open = false;
  ReceiveQueue m_queue;
};

// One front end run on a memory stream, as RunTransfer wires it.
struct FrontEndRun {
  explicit FrontEndRun(TransferOptions opts) : options(std::move(opts)) {
    stream = open_memstream(&buffer, &size);
  }
  ~FrontEndRun() { std::free(buffer); }

  Outcome Run(TransferController::WorkerProc worker, bool showBar = false) {
    ConsoleOutput console(stream, showBar);
    CliFrontEnd frontEnd(loop, job, options, port, console, meter);
    NoteShortcut notify(frontEnd, job);
    job.m_hNotifyWnd = &notify;
    {
      TransferController controller(job, link, frontEnd);
      controller.SetWorkers(worker, worker);
      frontEnd.Attach(controller);
      loop.Post([&] { frontEnd.Start(); });
      loop.Run();
      loop.Shutdown();
    }
    std::fclose(stream);
    return frontEnd.GetOutcome();
  }
  std::string Output() const { return std::string(buffer, size); }

  TransferOptions options;
  PortInfo port{"/dev/null", "null", "/dev/null", 0, ""};
  EventLoop loop;
  TransferJob job;
  TransferMeter meter;
  GateLink link;
  char* buffer = nullptr;
  size_t size = 0;
  FILE* stream = nullptr;
};

TransferOptions SendOptions() {
  TransferOptions o;
  o.port = "/dev/null";
  o.file = "/dev/null";
  return o;
}

TEST(CliFrontEnd, EachStatusTextIsPrintedOnceWhenItChanges) {
  FrontEndRun run(SendOptions());
  const Outcome outcome = run.Run([](TransferJob& job) {
    for (int i = 0; i < 5; ++i) job.m_hNotifyWnd->NotifyStatus(MakeStatusNote(-1, text::kDownloading));
    job.m_hNotifyWnd->NotifyProgress(100);
    job.m_hNotifyWnd->NotifyDone(1);
    job.m_hNotifyWnd->NotifyStatus(MakeStatusNote(-1, text::kComplete));
    return 1;
  });
  EXPECT_EQ(outcome, Outcome::Completed);
  EXPECT_EQ(ExitCodeFor(outcome), 0);
  EXPECT_EQ(run.Output(),
            "Waiting For Request. Reset SetTop Box.\nDownloading Processing...\n"
            "Transfer complete !\n");
}

// Only a changed percentage reaches the front end, which can take seconds on a slow line; the
// bar's bytes and rate are redrawn meanwhile.
TEST(CliFrontEnd, BarIsRedrawnBetweenProgressFigures) {
  FrontEndRun run(SendOptions());
  // The console writes into a pipe, which the worker reads while it holds back its next figure.
  int pipeFds[2];
  ASSERT_EQ(::pipe(pipeFds), 0);
  std::fclose(run.stream);
  run.stream = ::fdopen(pipeFds[1], "w");
  std::string seen;
  const auto drawsOf10 = [&seen] {
    size_t draws = 0;
    for (size_t at = seen.find(" 10%"); at != std::string::npos; at = seen.find(" 10%", at + 1)) {
      ++draws;
    }
    return draws;
  };
  const Outcome outcome = run.Run(
      [&](TransferJob& job) {
        job.m_hNotifyWnd->NotifyProgress(10);
        // A slow line: no new figure until the bar has been drawn three times, or ten seconds.
        pollfd readable{pipeFds[0], POLLIN, 0};
        char chunk[256];
        while (drawsOf10() < 3 && ::poll(&readable, 1, 10000) > 0) {
          const ssize_t n = ::read(pipeFds[0], chunk, sizeof chunk);
          if (n <= 0) break;
          seen.append(chunk, static_cast<size_t>(n));
        }
        job.m_hNotifyWnd->NotifyDone(1);
        return 1;
      },
      true);
  ::close(pipeFds[0]);
  EXPECT_EQ(outcome, Outcome::Completed);
  EXPECT_GE(drawsOf10(), 3u) << seen;
}

TEST(CliFrontEnd, WorkerFailureGivesExitOne) {
  FrontEndRun run(SendOptions());
  const Outcome outcome = run.Run([](TransferJob& job) {
    job.m_hNotifyWnd->NotifyStatus(MakeStatusNote(3, text::kReadingFail));
    job.m_hNotifyWnd->NotifyDone(0);
    return 0;
  });
  EXPECT_EQ(outcome, Outcome::Failed);
  EXPECT_EQ(ExitCodeFor(outcome), 1);
  EXPECT_NE(run.Output().find("Error : Reading fail.\n"), std::string::npos);
}

TEST(CliFrontEnd, TimeoutStopsATransferThatNeverHeardFromTheReceiver) {
  TransferOptions options = SendOptions();
  options.timeoutSeconds = 0.05;
  FrontEndRun run(options);
  GateLink& link = run.link;
  const Outcome outcome = run.Run([&link](TransferJob& job) {
    link.WaitUntilClosed();  // the stop closes the link
    if (job.m_bWatchdogTripped.load() == 0) {
      job.m_hNotifyWnd->NotifyStatus(MakeStatusNote(-1, text::kComplete));
    }
    return 0;
  });
  EXPECT_EQ(outcome, Outcome::TimedOut);
  EXPECT_EQ(ExitCodeFor(outcome), 1);
  EXPECT_EQ(run.Output(),
            "Waiting For Request. Reset SetTop Box.\nNo request from the receiver within 0.05 s.\n");
}

TEST(CliFrontEnd, PortThatDoesNotOpenEndsAtOnce) {
  FrontEndRun run(SendOptions());
  run.link.refuseOpen = true;
  bool workerRan = false;
  const auto worker = [&](TransferJob&) {
    workerRan = true;
    return 0;
  };
  EXPECT_EQ(run.Run(worker), Outcome::NotStarted);
  EXPECT_FALSE(workerRan);
  EXPECT_EQ(run.Output(), "Open port failed!\n");
}

}  // namespace
}  // namespace kestal::cli

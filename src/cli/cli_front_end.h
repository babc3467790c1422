#pragma once
// The command line's window: it shows the controller's status texts and progress on stderr,
// hands the controller the options as its "controls", runs its timers on the event loop, and
// carries the worker's notifications over to the loop thread, each waiting until handled.
#include <chrono>
#include <string>

#include "cli/console_output.h"
#include "cli/event_loop.h"
#include "cli/transfer_meter.h"
#include "cli/transfer_options.h"
#include "ports/port_info.h"
#include "transfer/transfer_controller.h"
#include "transfer/transfer_job.h"

namespace kestal::cli {

// How a transfer run by the command line ended.
enum class Outcome { Running, Completed, Failed, NotStarted, Stopped, TimedOut };

// Exit status: 0 only for a completed transfer.
int ExitCodeFor(Outcome outcome);

class CliFrontEnd : public ControllerView, public TransferNotify {
 public:
  CliFrontEnd(EventLoop& loop, TransferJob& job, const TransferOptions& options,
              const PortInfo& port, ConsoleOutput& console, const TransferMeter& meter);

  // Must be called before Start().
  void Attach(TransferController& controller) { m_controller = &controller; }

  // Loop thread: starts the transfer and, with --timeout, the clock on the first request.
  // The loop is told to quit when the transfer is over (or never started).
  void Start();
  // Loop thread: SIGINT/SIGTERM. The first acts as the Stop button; a second gives up waiting.
  void OnSignal();
  Outcome GetOutcome() const { return m_outcome; }

  // ControllerView
  void RefreshControls() override;
  void ReadControls() override;
  void EnableControl(int, bool) override {}
  void SetProgressPos(int percent) override;
  void StartTimer(int id, int periodMs) override;
  void StopTimer(int id) override;
  const PortInfo* SelectedPort() override { return &m_port; }

  // TransferNotify (worker thread)
  void NotifyStatus(std::unique_ptr<StatusNote> note) override;
  void NotifyProgress(int percent) override;
  void NotifyDone(int completed) override;
  void NotifyWorkerExit(bool completed) override;

 private:
  void OnFirstRequestTimeout();
  void DrawBar(int percent);
  void End(Outcome outcome);

  EventLoop& m_loop;
  TransferJob& m_job;
  const TransferOptions& m_options;
  PortInfo m_port;
  ConsoleOutput& m_console;
  const TransferMeter& m_meter;
  TransferController* m_controller = nullptr;

  Outcome m_outcome = Outcome::Running;
  bool m_stopRequested = false;  // set by a signal or the --timeout; the end then counts as such
  std::string m_shownStatus;
  // Rate measurement: from the first bytes seen moving.
  bool m_rateStarted = false;
  std::chrono::steady_clock::time_point m_rateStart{};
  uint64_t m_rateStartBytes = 0;
  std::chrono::steady_clock::time_point m_lastBarDraw{};
  int m_barPercent = -1;  // the last progress figure, redrawn by the bar timer
};

}  // namespace kestal::cli

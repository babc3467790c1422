#pragma once
// The command line's front end of a transfer: it prints the controller's status texts and a
// progress bar on stderr, runs the controller's timers on the event loop, and turns the end of
// the transfer into the process's outcome.
#include <chrono>
#include <string>

#include "cli/console_output.h"
#include "cli/event_loop.h"
#include "cli/transfer_options.h"
#include "ports/port_info.h"
#include "transfer/transfer_controller.h"
#include "transfer/transfer_front_end.h"

namespace kestal::cli {

// How a transfer run by the command line ended.
enum class Outcome { Running, Completed, Failed, NotStarted, Stopped, TimedOut };

// Exit status: 0 only for a completed transfer.
int ExitCodeFor(Outcome outcome);

class CliFrontEnd : public TransferFrontEnd {
 public:
  CliFrontEnd(EventLoop& loop, const TransferOptions& options, const PortInfo& port,
              ConsoleOutput& console);

  // Must be called before Start().
  void Attach(TransferController& controller) { controller_ = &controller; }

  // Loop thread: starts the transfer and, with --timeout, the clock on the first request.
  // The loop is told to quit when the transfer is over (or never started).
  void Start();
  // Loop thread: SIGINT/SIGTERM. The first acts as the Stop button; a second gives up waiting.
  void OnSignal();
  Outcome GetOutcome() const { return outcome_; }

  void Show(const TransferView& view) override;
  void StartTimer(TransferTimer timer, std::chrono::milliseconds period) override;
  void StopTimer(TransferTimer timer) override;
  void TransferEnded(WorkerOutcome outcome) override;

 private:
  void OnFirstRequestTimeout();
  void DrawBar();
  void End(Outcome outcome);

  EventLoop& loop_;
  const TransferOptions& options_;
  PortInfo port_;
  ConsoleOutput& console_;
  TransferController* controller_ = nullptr;

  Outcome outcome_ = Outcome::Running;
  TransferView view_;        // as last shown
  std::string shownStatus_;  // the last status text printed
  // Rate measurement: from the first bytes seen moving.
  bool rateStarted_ = false;
  std::chrono::steady_clock::time_point rateStart_{};
  uint64_t rateStartBytes_ = 0;
  std::chrono::steady_clock::time_point lastBarDraw_{};
};

}  // namespace kestal::cli

#pragma once
// The command line's TransferFrontEnd: prints each new status text and its detail on stderr,
// shows progress as the options ask (a bar on a terminal, plain lines otherwise, or JSON
// events on stdout), runs the controller's timers on the event loop, and turns the end of
// the transfer into the process's outcome.
#include <chrono>
#include <functional>
#include <optional>
#include <string>

#include "cli/console_output.h"
#include "cli/event_loop.h"
#include "cli/json_event.h"
#include "cli/progress_text.h"
#include "cli/transfer_options.h"
#include "ports/port_info.h"
#include "transfer/transfer_controller.h"
#include "transfer/transfer_front_end.h"

namespace kestal::cli {

// How a transfer run by the command line ended.
// PassedOn: the port hung up before its receiver was answered, and the run goes on with another.
enum class Outcome { Running, Completed, Failed, NotStarted, Stopped, TimedOut, PassedOn };

// Exit status: 0 only for a completed transfer.
int ExitCodeFor(Outcome outcome);

class CliFrontEnd : public TransferFrontEnd {
 public:
  // `json`: where --progress=json writes its events (stdout); unused otherwise.
  CliFrontEnd(EventLoop& loop, const TransferOptions& options, const PortInfo& port,
              ConsoleOutput& console, ConsoleOutput& json);

  // Must be called before Start().
  void Attach(TransferController& controller) { controller_ = &controller; }
  // Asked when the port hangs up, before its end is shown: true passes the run on to another
  // port, and this transfer ends without a word.
  void SetPassOn(std::function<bool()> passOn) { passOn_ = std::move(passOn); }

  // Loop thread: starts the transfer and, with --timeout, the clock on the first request.
  // The loop is told to quit when the transfer is over (or never started).
  void Start();
  // Loop thread: a terminating signal. The first acts as the Stop button; a second gives up
  // waiting.
  void OnSignal();
  Outcome GetOutcome() const { return outcome_; }

  void Show(const TransferView& view) override;
  void StartTimer(TransferTimer timer, std::chrono::milliseconds period) override;
  void StopTimer(TransferTimer timer) override;
  void TransferEnded(WorkerOutcome outcome) override;

 private:
  void StartRequestTimer();
  void OnFirstRequestTimeout();
  void ReportStatus(const std::string& status, const std::string& detail);
  void ShowDetail(const TransferView& view);
  void ShowProgress();
  void DrawBar(const ProgressFigures& figures, std::chrono::steady_clock::time_point now);
  void PrintPlainProgress(const ProgressFigures& figures,
                          std::chrono::steady_clock::time_point now);
  void EmitJson(const char* phase, std::optional<int> exitStatus = {});
  void PrintSummary();
  ProgressFigures Measure(std::chrono::steady_clock::time_point now);
  bool ErrorsOnly() const;
  bool PlainLines() const;
  void End(Outcome outcome);

  EventLoop& loop_;
  const TransferOptions& options_;
  PortInfo port_;
  ConsoleOutput& console_;
  ConsoleOutput& json_;
  TransferController* controller_ = nullptr;
  std::function<bool()> passOn_;

  Outcome outcome_ = Outcome::Running;
  TransferView view_;           // as last shown
  std::string shownStatus_;     // the controller's status text as last shown
  std::string reportedStatus_;  // the last status text reported, ours included
  std::string shownDetail_;     // the last detail printed
  // While waiting for the first request the detail counts the seconds: only a change in its
  // words (a hint) is worth a line of its own.
  std::optional<std::string> waitWords_;
  std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
  // When the receiver asked: the summary's time runs from here.
  std::optional<std::chrono::steady_clock::time_point> requestedAt_;
  // Rate measurement: from the first bytes seen moving.
  bool rateStarted_ = false;
  std::chrono::steady_clock::time_point rateStart_{};
  uint64_t rateStartBytes_ = 0;
  std::chrono::steady_clock::time_point lastBarDraw_{};
  // Plain lines: the tenth of the transfer and the time of the last one printed.
  int plainTenth_ = 0;
  std::chrono::steady_clock::time_point lastPlainLine_{};
  uint64_t jsonBytes_ = 0;  // bytes done in the last progress event
  int jsonPercent_ = 0;
};

}  // namespace kestal::cli

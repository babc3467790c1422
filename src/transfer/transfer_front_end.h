#pragma once
// What a front end (the window, the command line) shows of a transfer, and the little the
// controller needs from it. The controller keeps its state to itself and pushes one
// TransferView whenever any of it changes.
#include <chrono>
#include <cstdint>
#include <string>

#include "transfer/workers.h"

namespace kestal {

struct TransferView {
  std::string status;            // the status line; empty: cleared
  std::string detail;            // a second line under it (why, what to check); cleared with it
  int percent = 0;               // the progress bar
  std::string percentText;       // the label beside it ("42%"); empty until progress is first set
  uint64_t bytesDone = 0;        // as the worker last reported them
  uint64_t bytesTotal = 0;       // 0 while unknown
  bool inputsEnabled = true;     // file, path, port, mode and direction ("To Computer" only
                                 // outside Software mode: the window knows its mode)
  bool running = false;          // a transfer runs (Stop means something)
  bool awaitingRequest = false;  // running, and the receiver has not asked yet

  bool operator==(const TransferView&) const = default;
};

enum class TransferTimer { Watchdog, Status };

class TransferFrontEnd {
 public:
  virtual ~TransferFrontEnd() = default;
  // Front end's thread: the view changed.
  virtual void Show(const TransferView& view) = 0;
  // Front end's thread: call the controller's OnTimer(timer) every `period` until stopped.
  // Starting a running timer restarts it.
  virtual void StartTimer(TransferTimer timer, std::chrono::milliseconds period) = 0;
  virtual void StopTimer(TransferTimer timer) = 0;
  // Front end's thread: the worker of a started transfer has returned and its thread is gone.
  virtual void TransferEnded(WorkerOutcome outcome) = 0;
};

}  // namespace kestal

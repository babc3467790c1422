#pragma once
// Check Port: the doctor's checks on the selected port, run off the window thread as
// `kestal-cli doctor --port PORT --listen 10` runs them (the port at rest, then the wake-up burst
// and the wait for the receiver). The report comes back to the window thread as the text that
// command prints; the window never waits for it.
#include <functional>
#include <stop_token>
#include <string>
#include <thread>

#include "doctor/doctor_report.h"
#include "ports/port_info.h"
#include "transfer/call_queue.h"

namespace kestal::window {

// How long Check Port listens for the receiver after the wake-up burst.
constexpr double kCheckListenSeconds = 10;

class PortCheck {
 public:
  // The checks on `ports` (the selected port, or none when the machine has none); they end
  // their listening at once when `stop` is requested.
  using Checks = std::function<doctor::DoctorReport(const PortList& ports, std::stop_token stop)>;
  using Done = std::function<void(const std::string& reportText)>;

  explicit PortCheck(CallQueue& calls);
  // A check still running is stopped, and its thread joined (promptly: the listening ends).
  ~PortCheck() = default;
  PortCheck(const PortCheck&) = delete;
  PortCheck& operator=(const PortCheck&) = delete;

  // Tests replace the doctor.
  void SetChecks(Checks checks) { checks_ = std::move(checks); }
  // Window thread: checks `ports` on a thread of its own; `done` runs on the window thread with
  // the report. False, and nothing started, while a check runs.
  bool Start(const PortList& ports, Done done);
  bool Running() const { return running_; }

 private:
  CallQueue& calls_;
  Checks checks_;
  bool running_ = false;  // window thread
  std::jthread thread_;   // last: stopped and joined before the rest goes
};

}  // namespace kestal::window

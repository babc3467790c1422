#pragma once
// One port of a station: a link, a controller and its watchdog of its own, run on the
// station's loop. It wakes the port, serves the receiver that asks, reports the unit, rests a
// moment and waits for the next receiver, for as long as the station runs.
#include <chrono>
#include <optional>
#include <string>

#include "cli/event_loop.h"
#include "cli/station/served_file.h"
#include "cli/station/unit_log.h"
#include "link/serial_link.h"
#include "ports/port_info.h"
#include "transfer/transfer_controller.h"
#include "transfer/transfer_front_end.h"

namespace kestal::cli {

class StationPort;

// What the station hears from its ports, on the loop thread.
class PortEvents {
 public:
  virtual ~PortEvents() = default;
  enum class Change { Figures, Status, State };
  // The port's figures, its status text, or its state (or the reason for it) changed.
  virtual void PortChanged(StationPort& port, Change change) = 0;
  // A receiver's unit has ended; its record is ready.
  virtual void UnitEnded(StationPort& port, const UnitRecord& record) = 0;
  // The port has stopped for good: no worker runs on it any more.
  virtual void PortStopped(StationPort& port) = 0;
  // A notice of the port's link ("m_QueueRead FULL!").
  virtual void PortNotice(StationPort& port, const std::string& text) = 0;
  // The port as it is found now (between units its device may have gone, or another taken its
  // place); nullopt, with `why` set, when it is not found.
  virtual std::optional<PortInfo> FindAgain(const StationPort& port, std::string& why) = 0;
};

enum class PortState {
  Unavailable,  // cannot be opened (or not found); tried again
  Waiting,      // open, the wake-up burst sent: waiting for a receiver to ask
  Serving,      // a receiver asked: its unit runs
  Resting,      // between two units
  Gone,         // found by the station once, not any more
  Stopped,      // the station is ending
};

const char* StateName(PortState state);

class StationPort : public TransferFrontEnd {
 public:
  using SteadyClock = std::chrono::steady_clock;

  // `key` names the port on the command line (--ports: `named`) or, found by the station, its
  // device. `id` is unique among the station's ports (its timers are numbered by it).
  StationPort(int id, std::string key, bool named, EventLoop& loop, const ServedFile& served,
              PortEvents& events);
  ~StationPort() override;

  const std::string& Key() const { return key_; }
  // The port as last found; its device path is empty while it is not found.
  const PortInfo& Info() const { return info_; }
  std::string Name() const;
  PortState State() const { return state_; }
  // Why it is unavailable or gone; empty otherwise.
  const std::string& Reason() const { return reason_; }
  const TransferView& View() const { return view_; }
  // How the last unit ended, in a few words; empty before the first.
  const std::string& LastResult() const { return lastResult_; }
  // Seconds in this state (waiting) or this unit (serving); bytes a second of the unit.
  double Seconds() const;
  double Rate() const;

  // Wakes the port as `found` and waits for a receiver. Not found (`why` says why), a port named
  // on the command line is unavailable, one the station found is gone. Only an unavailable or
  // gone port is woken again; a resting one wakes by itself.
  void Wake(const std::optional<PortInfo>& found, const std::string& why);
  // Ends the port's work. `finishUnit`: a unit being served goes on to its end first.
  void Stop(bool finishUnit);
  bool Idle() const { return state_ == PortState::Stopped; }

  void Show(const TransferView& view) override;
  void StartTimer(TransferTimer timer, std::chrono::milliseconds period) override;
  void StopTimer(TransferTimer timer) override;
  void TransferEnded(WorkerOutcome outcome) override;

 private:
  struct Unit {
    std::string startUtc;
    SteadyClock::time_point start;
  };

  void Open(const std::optional<PortInfo>& found, const std::string& why);
  void Start();
  void SetState(PortState state, const std::string& reason = {});
  UnitRecord Record(WorkerOutcome outcome) const;
  int TimerId(int which) const;

  const int id_;
  const std::string key_;
  const bool named_;
  EventLoop& loop_;
  const ServedFile& served_;
  PortEvents& events_;
  PortInfo info_;
  SerialLink link_;
  TransferController controller_;
  PortState state_ = PortState::Unavailable;
  std::string reason_;
  TransferView view_;
  std::optional<Unit> unit_;
  SteadyClock::time_point since_ = SteadyClock::now();
  std::string lastResult_;
  bool stopping_ = false;
  bool unitCut_ = false;  // the station stopped a unit before its end
};

}  // namespace kestal::cli

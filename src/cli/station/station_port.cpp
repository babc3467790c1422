#include "cli/station/station_port.h"

#include "cli/progress_text.h"
#include "transfer/transfer_request.h"

namespace kestal::cli {
namespace {

// A receiver that has just been served may still be talking; and a line just closed is given
// a moment before it is woken again.
constexpr auto kRest = std::chrono::seconds(1);

enum PortTimer { kWatchdogTimer, kStatusTimer, kRestTimer, kTimersPerPort };

}  // namespace

const char* StateName(PortState state) {
  switch (state) {
    case PortState::Unavailable:
      return "unavailable";
    case PortState::Waiting:
      return "waiting";
    case PortState::Serving:
      return "serving";
    case PortState::Resting:
      return "resting";
    case PortState::Gone:
      return "gone";
    case PortState::Stopped:
      break;
  }
  return "stopped";
}

StationPort::StationPort(int id, std::string key, bool named, EventLoop& loop,
                         const ServedFile& served, PortEvents& events)
    : id_(id),
      key_(std::move(key)),
      named_(named),
      loop_(loop),
      served_(served),
      events_(events),
      controller_(link_, *this, loop.Calls()) {
  // Called on the link's reader thread.
  link_.SetNoticeHandler([this](const std::string& text) {
    loop_.Post([this, text] { events_.PortNotice(*this, text); });
  });
}

StationPort::~StationPort() {
  for (int timer = 0; timer < kTimersPerPort; ++timer) loop_.StopTimer(TimerId(timer));
}

int StationPort::TimerId(int which) const { return id_ * kTimersPerPort + which; }

std::string StationPort::Name() const {
  return info_.friendlyName.empty() ? key_ : info_.friendlyName;
}

double StationPort::Seconds() const {
  const auto from = unit_ ? unit_->start : since_;
  return std::chrono::duration<double>(SteadyClock::now() - from).count();
}

double StationPort::Rate() const {
  const double seconds = Seconds();
  return unit_ && seconds > 0.2 ? static_cast<double>(view_.bytesDone) / seconds : 0;
}

void StationPort::Wake(const std::optional<PortInfo>& found, const std::string& why) {
  if (state_ == PortState::Unavailable || state_ == PortState::Gone) Open(found, why);
}

void StationPort::Open(const std::optional<PortInfo>& found, const std::string& why) {
  if (stopping_) return;
  if (!found) {
    SetState(named_ ? PortState::Unavailable : PortState::Gone, why);
    return;
  }
  info_ = *found;
  Start();
}

void StationPort::Start() {
  if (stopping_) return;
  link_.SetFriendlyName(info_.friendlyName);
  controller_.StartTransfer({served_.path, served_.mode, DIR_TO_RECEIVER, served_.data},
                            info_.devicePath);
  const TransferView& view = controller_.View();
  if (view.running) {
    SetState(PortState::Waiting);
  } else {
    // "Open port failed!" (or another refusal) has been shown, with the reason under it.
    SetState(PortState::Unavailable, view.detail.empty() ? view.status : view.detail);
  }
}

void StationPort::Stop(bool finishUnit) {
  stopping_ = true;
  loop_.StopTimer(TimerId(kRestTimer));
  if (state_ == PortState::Stopped) return;
  if (finishUnit && unit_) return;  // it stops once the unit has ended
  if (controller_.Busy()) {
    // Asked again (a signal after the log failed): now the unit under way is cut short too.
    if (controller_.State().running.load()) {
      unitCut_ = unit_.has_value();
      controller_.OnStop();
    }
    return;  // the worker's end follows
  }
  SetState(PortState::Stopped);
  events_.PortStopped(*this);
}

void StationPort::SetState(PortState state, const std::string& reason) {
  if (state == state_ && reason == reason_) return;
  if (state != state_) since_ = SteadyClock::now();
  state_ = state;
  reason_ = reason;
  events_.PortChanged(*this, PortEvents::Change::State);
}

void StationPort::Show(const TransferView& view) {
  const bool statusChanged = view.status != view_.status || view.detail != view_.detail;
  const bool figuresChanged =
      view.running && (view.percent != view_.percent || view.bytesDone != view_.bytesDone);
  const TransferView last = view_;
  view_ = view;
  // The controller zeroes the figures at every end; the row keeps those of the unit.
  if (!view.running) {
    view_.percent = last.percent;
    view_.bytesDone = last.bytesDone;
    view_.bytesTotal = last.bytesTotal;
  }
  if (view.running && !view.awaitingRequest && !unit_) {
    unit_ = Unit{UtcNowWithMilliseconds(), SteadyClock::now()};
    SetState(PortState::Serving);
  }
  if (statusChanged && !view.status.empty()) events_.PortChanged(*this, PortEvents::Change::Status);
  if (figuresChanged) events_.PortChanged(*this, PortEvents::Change::Figures);
}

void StationPort::StartTimer(TransferTimer timer, std::chrono::milliseconds period) {
  const int which = timer == TransferTimer::Watchdog ? kWatchdogTimer : kStatusTimer;
  loop_.StartTimer(TimerId(which), period, [this, timer] { controller_.OnTimer(timer); });
}

void StationPort::StopTimer(TransferTimer timer) {
  loop_.StopTimer(TimerId(timer == TransferTimer::Watchdog ? kWatchdogTimer : kStatusTimer));
}

void StationPort::TransferEnded(WorkerOutcome outcome) {
  if (unit_) {
    const UnitRecord record = Record(outcome);
    unit_.reset();
    lastResult_ = record.status + " " + FormatDuration(static_cast<uint64_t>(record.seconds + 0.5));
    events_.UnitEnded(*this, record);  // may stop the station, this port too
  }
  if (stopping_) {
    if (state_ == PortState::Stopped) return;
    SetState(PortState::Stopped);
    events_.PortStopped(*this);
    return;
  }
  SetState(PortState::Resting);
  loop_.StartTimer(TimerId(kRestTimer), kRest, [this] {
    loop_.StopTimer(TimerId(kRestTimer));
    std::string why;
    const std::optional<PortInfo> found = events_.FindAgain(*this, why);
    Open(found, why);
  });
}

UnitRecord StationPort::Record(WorkerOutcome outcome) const {
  UnitRecord record;
  record.startUtc = unit_->startUtc;
  record.endUtc = UtcNowWithMilliseconds();
  record.port = info_;
  record.file = served_.path;
  record.mode = served_.mode;
  record.size = served_.size;
  record.sha256 = served_.sha256;
  // Only the worker's word makes a unit complete; a unit the station cut short was stopped,
  // any other end (a hang-up, a silent receiver) failed.
  record.outcome = outcome == WorkerOutcome::Completed ? "completed"
                   : unitCut_                          ? "stopped"
                                                       : "failed";
  record.status = view_.status;
  record.detail = view_.detail;
  record.bytes = view_.bytesDone;
  record.seconds = std::chrono::duration<double>(SteadyClock::now() - unit_->start).count();
  return record;
}

}  // namespace kestal::cli

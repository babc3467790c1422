#include "cli/station/station.h"

#include <algorithm>

#include "cli/port_choice.h"
#include "cli/signal_watcher.h"
#include "common/printable.h"
#include "transfer/input_check.h"

namespace kestal::cli {
namespace {

// Ports are looked for (and those that could not be opened tried again) this often; the file
// on disk is looked at as often.
constexpr auto kSurveyPeriod = std::chrono::seconds(2);
constexpr auto kRedrawPeriod = std::chrono::milliseconds(250);

// The station's own loop timers; the ports number theirs from 0 up.
enum StationTimer { kSurveyTimer = -1, kWatchTimer = -2, kRedrawTimer = -3 };

// A port named on the command line, as discovery knows it (with its adapter's serial number
// and by-id link) or else as a path.
std::optional<PortInfo> Resolve(const std::string& key, const PortList& found) {
  if (const PortInfo* port = FindPort(found, key)) return *port;
  return ResolvePort(key, found);
}

}  // namespace

Station::Station(const StationOptions& options, const ServedFile& served, UnitLog* log,
                 StationDisplay& display)
    : options_(options), served_(served), log_(log), display_(display), watch_(served) {}

Station::~Station() {
  // Every port has stopped, or a second signal gave up waiting for them: the workers' last
  // notifications are released, and each port's controller joins its worker.
  loop_.Shutdown();
  ports_.clear();
}

int Station::Run() {
  // Before any port's thread starts, so the signals reach the watcher alone.
  SignalWatcher signals([this](int) { loop_.Post([this] { OnSignal(); }); });
  loop_.Post([this] { Begin(); });
  loop_.Run();
  loop_.Shutdown();
  ports_.clear();
  const int status = ExitStatus();
  display_.Finish(totals_, status);
  return status;
}

void Station::Begin() {
  display_.Notice("Serving " + Printable(served_.path) + ": " +
                  (served_.mode == MODE_CHANNELS ? "Channels" : "Software") + ", " +
                  std::to_string(served_.size) + " bytes, SHA-256 " + served_.sha256 + ".");
  const std::string warning = ExtensionWarning({served_.path, served_.mode, DIR_TO_RECEIVER});
  if (!warning.empty()) display_.Notice(warning);
  if (!options_.logPath.empty()) {
    display_.Notice("Each unit is logged to " + Printable(options_.logPath) + ".");
  }
  for (const std::string& key : options_.ports) PortFor(key);
  Survey();
  loop_.StartTimer(kSurveyTimer, kSurveyPeriod, [this] { Survey(); });
  loop_.StartTimer(kWatchTimer, kSurveyPeriod, [this] {
    if (const std::string notice = watch_.Look(); !notice.empty()) display_.Notice(notice);
  });
  if (display_.ShowsTable()) {
    loop_.StartTimer(kRedrawTimer, kRedrawPeriod, [this] { display_.Redraw(ports_, totals_); });
  }
}

StationPort& Station::PortFor(const std::string& key) {
  for (const auto& port : ports_) {
    if (port->Key() == key) return *port;
  }
  ports_.push_back(std::make_unique<StationPort>(static_cast<int>(ports_.size()), key,
                                                 !options_.ports.empty(), loop_, served_, *this));
  return *ports_.back();
}

// Finds the ports (with --ports auto: every USB serial and virtual port, new ones added, gone
// ones marked) and wakes those that could not be opened before.
void Station::Survey() {
  if (stopping_) return;
  const bool everyPort = options_.ports.empty();
  const bool looking =
      everyPort || std::any_of(ports_.begin(), ports_.end(), [](const auto& port) {
        return port->State() == PortState::Unavailable || port->State() == PortState::Gone;
      });
  if (!looking) return;
  const PortList found = EnumeratePorts().ports;
  if (everyPort) {
    for (const PortInfo& info : found) {
      if (info.usb || info.virtualPort) PortFor(info.devicePath);
    }
  }
  for (const auto& port : ports_) {
    std::string why;
    const std::optional<PortInfo> info = Find(*port, found, why);
    port->Wake(info, why);
  }
}

// A port named on the command line is looked up by that name; one found by the station is the
// USB serial or virtual port at its device path.
std::optional<PortInfo> Station::Find(const StationPort& port, const PortList& found,
                                      std::string& why) const {
  if (!options_.ports.empty()) {
    why = "No port " + Printable(port.Key()) + " (see kestal-cli ports); looked for again every " +
          "2 s.";
    return Resolve(port.Key(), found);
  }
  why = "No longer found.";
  for (const PortInfo& info : found) {
    if ((info.usb || info.virtualPort) && info.devicePath == port.Key()) return info;
  }
  return std::nullopt;
}

std::optional<PortInfo> Station::FindAgain(const StationPort& port, std::string& why) {
  return Find(port, EnumeratePorts().ports, why);
}

void Station::PortChanged(StationPort& port, Change change) { display_.PortChanged(port, change); }

void Station::PortNotice(StationPort& port, const std::string& text) {
  display_.Notice(Printable(port.Name()) + ": " + text);
}

void Station::UnitEnded(StationPort& port, const UnitRecord& record) {
  ++totals_.units;
  if (record.outcome == "completed") ++totals_.completed;
  display_.UnitEnded(port, record);
  Record(record);
}

// Written and on the disk before the port serves another unit. When that fails, the station
// serves no one else: the units under way end and are recorded on stderr.
void Station::Record(const UnitRecord& record) {
  if (log_ == nullptr) return;
  std::string error;
  if (log_->Append(FormatUnitRecord(record), error)) return;
  display_.Notice("Cannot write the log " + Printable(options_.logPath) + ": " + error + ".");
  display_.Notice("Not in the log: " + FormatUnitRecord(record));
  if (logFailed_) return;
  logFailed_ = true;
  display_.Notice(
      "The station stops: a receiver served now would go unrecorded. Units under way end "
      "first.");
  StopAll(true);
}

void Station::OnSignal() {
  if (signalled_) {
    // Asked twice: stop waiting for the workers' last notices.
    loop_.Shutdown();
    return;
  }
  signalled_ = true;
  display_.Notice("Stopping: every transfer under way is ended.");
  StopAll(false);
}

void Station::StopAll(bool finishUnits) {
  stopping_ = true;
  loop_.StopTimer(kSurveyTimer);
  for (const auto& port : ports_) port->Stop(finishUnits);
  EndWhenIdle();
}

void Station::PortStopped(StationPort& /*port*/) { EndWhenIdle(); }

void Station::EndWhenIdle() {
  if (!stopping_) return;
  if (std::all_of(ports_.begin(), ports_.end(), [](const auto& port) { return port->Idle(); })) {
    loop_.Quit();
  }
}

int Station::ExitStatus() const {
  return !logFailed_ && totals_.completed == totals_.units ? 0 : 1;
}

}  // namespace kestal::cli

#pragma once
// kestal-cli station: one process serving the same file to receivers on many ports at once.
// Every port has its own link, controller, watchdog and status, and all of them run on one
// event loop, whose handlers never block: a hang-up, a silent or hostile receiver or an
// unplugged adapter on one port concerns that port alone.
#include <memory>
#include <string>
#include <vector>

#include "cli/event_loop.h"
#include "cli/station/served_file.h"
#include "cli/station/station_display.h"
#include "cli/station/station_port.h"
#include "cli/station/unit_log.h"
#include "ports/port_discovery.h"

namespace kestal::cli {

struct StationOptions {
  std::string file;
  int mode = 0;
  std::vector<std::string> ports;  // as named on the command line; empty: every USB serial and
                                   // virtual port, as they come and go
  std::string logPath;             // empty: no log
  bool json = false;               // the events as JSON on stdout
};

class Station : public PortEvents {
 public:
  // `log` is open, or null without --log.
  Station(const StationOptions& options, const ServedFile& served, UnitLog* log,
          StationDisplay& display);
  ~Station() override;

  // Serves until a terminating signal (or a log that cannot be written); the exit status: 0 when
  // every unit served completed.
  int Run();

  void PortChanged(StationPort& port, Change change) override;
  void UnitEnded(StationPort& port, const UnitRecord& record) override;
  void PortStopped(StationPort& port) override;
  void PortNotice(StationPort& port, const std::string& text) override;
  std::optional<PortInfo> FindAgain(const StationPort& port, std::string& why) override;

 private:
  void Begin();
  void Survey();
  std::optional<PortInfo> Find(const StationPort& port, const PortList& found,
                               std::string& why) const;
  StationPort& PortFor(const std::string& key);
  void Record(const UnitRecord& record);
  void OnSignal();
  void StopAll(bool finishUnits);
  void EndWhenIdle();
  int ExitStatus() const;

  const StationOptions& options_;
  const ServedFile& served_;
  UnitLog* log_;
  StationDisplay& display_;
  EventLoop loop_;
  FileWatch watch_;
  std::vector<std::unique_ptr<StationPort>> ports_;
  StationTotals totals_;
  bool stopping_ = false;
  bool signalled_ = false;
  bool logFailed_ = false;
};

}  // namespace kestal::cli

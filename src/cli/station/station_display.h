#pragma once
// What the operator sees of a station. Station notices and a summary line per finished unit go
// to stderr; on a terminal a table of the ports (port, state, percent, rate, time, last result)
// stays below them, redrawn in place; otherwise, or with --progress=json, every event is also a
// JSON object on a line of stdout. All of it is written by the output threads: never waited for.
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/console_output.h"
#include "cli/station/station_port.h"

namespace kestal::cli {

struct StationTotals {
  int units = 0;
  int completed = 0;
};

class StationDisplay {
 public:
  // `table`: stderr is a terminal that shows the table; `json`: the events go to stdout.
  StationDisplay(const ServedFile& served, bool table, bool json);

  void Notice(const std::string& text);
  void PortChanged(const StationPort& port, PortEvents::Change change);
  void UnitEnded(const StationPort& port, const UnitRecord& record);
  // Redraws the table (a terminal only).
  void Redraw(const std::vector<std::unique_ptr<StationPort>>& ports, const StationTotals& totals);
  void Finish(const StationTotals& totals, int exitStatus);
  bool ShowsTable() const { return table_; }

 private:
  std::string Heading(const StationTotals& totals) const;
  std::string Row(const StationPort& port) const;
  void Event(const std::string& line, bool progress = false);

  const ServedFile& served_;
  const bool table_;
  ConsoleOutput lines_;                // stderr
  std::optional<ConsoleOutput> json_;  // stdout, for the events
};

}  // namespace kestal::cli

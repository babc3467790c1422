#include "cli/station/station_display.h"

#include <algorithm>

#include "cli/json_event.h"
#include "cli/progress_text.h"
#include "cli/terminal.h"
#include "common/printable.h"
#include "transfer/transfer_request.h"

namespace kestal::cli {
namespace {

constexpr size_t kPortColumn = 26;
constexpr size_t kStateColumn = 12;

std::string Padded(std::string text, size_t width, bool right = false) {
  if (text.size() >= width) return text.substr(0, width - 1) + " ";
  const std::string pad(width - text.size(), ' ');
  return right ? pad + text : text + pad;
}

std::string Units(const StationTotals& totals) {
  return std::to_string(totals.units) + (totals.units == 1 ? " unit: " : " units: ") +
         std::to_string(totals.completed) + " completed, " +
         std::to_string(totals.units - totals.completed) + " failed or stopped";
}

JsonLine PortEvent(const char* phase, const StationPort& port) {
  JsonLine line;
  line.Text("phase", phase).Text("port", port.Name()).Text("device", port.Info().devicePath);
  return line;
}

}  // namespace

StationDisplay::StationDisplay(const ServedFile& served, bool table, bool json)
    : served_(served), table_(table), lines_(stderr, table) {
  if (json) json_.emplace(stdout, false);
}

void StationDisplay::Event(const std::string& line, bool progress) {
  if (!json_) return;
  // A reader that falls behind gets every other event; progress gives way to the newest.
  if (progress) {
    json_->StateLine(line);
  } else {
    json_->Line(line);
  }
}

void StationDisplay::Notice(const std::string& text) {
  lines_.Line(text);
  Event(JsonLine().Text("phase", "station").Text("status", text).Done());
}

void StationDisplay::PortChanged(const StationPort& port, PortEvents::Change change) {
  const TransferView& view = port.View();
  switch (change) {
    case PortEvents::Change::State:
      if (port.State() == PortState::Unavailable || port.State() == PortState::Gone) {
        // Said once a reason: the table keeps showing it.
        const bool gone = port.State() == PortState::Gone;
        lines_.Line(Printable(port.Name()) + ": " + (gone ? "gone." : "Open port failed!"));
        if (!gone && !port.Reason().empty()) lines_.Line("  " + port.Reason());
      }
      Event(PortEvent("port", port)
                .Text("state", StateName(port.State()))
                .Text("reason", port.Reason())
                .Done());
      return;
    case PortEvents::Change::Status:
      Event(
          PortEvent("status", port).Text("status", view.status).Text("detail", view.detail).Done());
      return;
    case PortEvents::Change::Figures:
      Event(PortEvent("progress", port)
                .Integer("percent", view.percent)
                .Integer("bytes_done", static_cast<int64_t>(view.bytesDone))
                .Integer("bytes_total", static_cast<int64_t>(view.bytesTotal))
                .Decimal("rate", port.Rate())
                .Decimal("elapsed", port.Seconds())
                .Done(),
            true);
      return;
  }
}

void StationDisplay::UnitEnded(const StationPort& port, const UnitRecord& record) {
  std::string line = Printable(port.Name()) + ": " + record.status + " " +
                     std::to_string(record.bytes) + " bytes in " +
                     FormatDuration(static_cast<uint64_t>(record.seconds + 0.5));
  if (record.bytes > 0 && record.seconds > 0) {
    line += " (" + FormatRate(static_cast<double>(record.bytes) / record.seconds) + ")";
  }
  lines_.Line(line + ".");
  if (!record.detail.empty()) lines_.Line("  " + record.detail);
  Event(FormatUnitRecord(record, "unit"));
}

std::string StationDisplay::Heading(const StationTotals& totals) const {
  return Printable(served_.path) + "  " +
         (served_.mode == MODE_CHANNELS ? "Channels" : "Software") + "  " +
         std::to_string(served_.size) + " bytes  SHA-256 " + served_.sha256.substr(0, 12) +
         "...  " + Units(totals);
}

std::string StationDisplay::Row(const StationPort& port) const {
  const PortState state = port.State();
  const bool moving = state == PortState::Serving;
  const bool timed = moving || state == PortState::Waiting;
  const TransferView& view = port.View();
  const std::string last = state == PortState::Unavailable ? port.Reason() : port.LastResult();
  return Padded(Printable(port.Name()), kPortColumn) + Padded(StateName(state), kStateColumn) +
         Padded(moving ? std::to_string(view.percent) + "%" : "-", 5, true) + " " +
         Padded(moving && port.Rate() > 0 ? FormatRate(port.Rate()) : "-", 11, true) + " " +
         Padded(timed ? FormatDuration(static_cast<uint64_t>(port.Seconds())) : "-", 8, true) +
         "  " + last;
}

void StationDisplay::Redraw(const std::vector<std::unique_ptr<StationPort>>& ports,
                            const StationTotals& totals) {
  if (!table_) return;
  const int columns = TerminalColumns(stderr);
  // Lines that wrap, or more lines than the screen holds, could not be redrawn in place.
  const int rows = TerminalRows(stderr);
  const size_t room = rows > 4 ? static_cast<size_t>(rows - 3) : ports.size();
  std::string table = FitToWidth(Heading(totals), columns) + "\n" +
                      FitToWidth(Padded("Port", kPortColumn) + Padded("State", kStateColumn) +
                                     " Done        Rate     Time  Last result",
                                 columns);
  if (ports.empty()) table += "\nNo USB serial or virtual port found yet; looking every 2 s.";
  const size_t shown = ports.size() > room ? room - 1 : ports.size();
  for (size_t i = 0; i < shown; ++i) table += "\n" + FitToWidth(Row(*ports[i]), columns);
  if (shown < ports.size()) {
    table += "\n... and " + std::to_string(ports.size() - shown) + " more ports";
  }
  lines_.Bar(table);
}

void StationDisplay::Finish(const StationTotals& totals, int exitStatus) {
  lines_.ClearBar();
  lines_.Line("Station ended. " + Units(totals) + ".");
  Event(JsonLine()
            .Text("phase", "outcome")
            .Integer("units", totals.units)
            .Integer("completed", totals.completed)
            .Integer("exit_status", exitStatus)
            .Done());
}

}  // namespace kestal::cli

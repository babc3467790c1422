#pragma once
// The station's log: one JSON object a line for every unit served (a receiver that asked for
// the file on a port), appended and flushed to the disk as the unit ends, so a crash loses no
// finished record.
#include <cstdint>
#include <string>

#include "ports/port_info.h"

namespace kestal::cli {

struct UnitRecord {
  std::string startUtc;  // ISO 8601, milliseconds: when the receiver asked
  std::string endUtc;
  PortInfo port;  // its friendly name, device, adapter serial number and by-id link
  std::string file;
  int mode = 0;
  uint64_t size = 0;  // of the file
  std::string sha256;
  std::string outcome;  // "completed", "failed" or "stopped"
  std::string status;   // the last status text, and the line under it
  std::string detail;
  uint64_t bytes = 0;  // moved to the receiver (of the image, in Channels mode)
  double seconds = 0;
};

// The record as a JSON object on one line (no line break). `phase`, when given, comes first: a
// station's --progress=json events use the same fields.
std::string FormatUnitRecord(const UnitRecord& record, const std::string& phase = {});

// The present time in the records' form.
std::string UtcNowWithMilliseconds();

class UnitLog {
 public:
  UnitLog() = default;
  ~UnitLog();
  UnitLog(const UnitLog&) = delete;
  UnitLog& operator=(const UnitLog&) = delete;

  // Opens `path` for appending, creating it if need be; false with `error` set.
  bool Open(const std::string& path, std::string& error);
  // Appends `line` and a line break and waits until the disk has them; false with `error` set
  // when that could not be done.
  bool Append(const std::string& line, std::string& error);

 private:
  int fd_ = -1;
};

}  // namespace kestal::cli

#include "cli/station/unit_log.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>

#include "cli/json_event.h"
#include "common/printable.h"
#include "transfer/transfer_request.h"

namespace kestal::cli {
namespace {

std::string Reason(int error) { return std::strerror(error); }

// A line cut short by an earlier failure is ended, so the next record starts a line of its own.
bool EndsWithLineBreak(int fd) {
  const off_t size = ::lseek(fd, 0, SEEK_END);
  char last = '\n';
  return size <= 0 || ::pread(fd, &last, 1, size - 1) != 1 || last == '\n';
}

}  // namespace

std::string FormatUnitRecord(const UnitRecord& record, const std::string& phase) {
  JsonLine line;
  if (!phase.empty()) line.Text("phase", phase);
  return line.Text("start", record.startUtc)
      .Text("end", record.endUtc)
      .Text("port", record.port.friendlyName)
      .Text("device", record.port.devicePath)
      .Text("serial", record.port.serialNumber)
      .Text("by_id", record.port.byIdPath)
      .Text("file", record.file)
      .Text("mode", record.mode == MODE_CHANNELS ? "channels" : "software")
      .Integer("size", static_cast<int64_t>(record.size))
      .Text("sha256", record.sha256)
      .Text("outcome", record.outcome)
      .Text("status", record.status)
      .Text("detail", record.detail)
      .Integer("bytes", static_cast<int64_t>(record.bytes))
      .Decimal("seconds", record.seconds)
      .Done();
}

std::string UtcNowWithMilliseconds() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const auto milliseconds =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm utc{};
  ::gmtime_r(&seconds, &utc);
  char text[40] = {};
  const size_t length = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
  std::snprintf(text + length, sizeof text - length, ".%03dZ", static_cast<int>(milliseconds));
  return text;
}

UnitLog::~UnitLog() {
  if (fd_ >= 0) ::close(fd_);
}

bool UnitLog::Open(const std::string& path, std::string& error) {
  fd_ = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0644);
  if (fd_ < 0) {
    error = "cannot open " + Printable(path) + ": " + Reason(errno);
    return false;
  }
  if (!EndsWithLineBreak(fd_)) return Append("", error);
  return true;
}

bool UnitLog::Append(const std::string& line, std::string& error) {
  const std::string whole = line.empty() ? "\n" : line + "\n";
  for (size_t at = 0; at < whole.size();) {
    const ssize_t n = ::write(fd_, whole.data() + at, whole.size() - at);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error = Reason(n < 0 ? errno : EIO);
      return false;
    }
    at += static_cast<size_t>(n);
  }
  // A pipe or a terminal holds nothing to flush.
  if (::fsync(fd_) != 0 && errno != EINVAL && errno != EROFS) {
    error = Reason(errno);
    return false;
  }
  return true;
}

}  // namespace kestal::cli

#pragma once
// A worker's three notifications to the front end's thread, handled there in the order they were
// made. Status and progress return at once; NotifyDone returns only after it has been handled
// (or once the front end is gone).
#include <cstdint>
#include <string>

namespace kestal {

// How long a status text stays: kUntilReplaced, or N seconds (then the line is cleared).
constexpr int kUntilReplaced = -1;

// What a worker reports about the data moved so far.
struct TransferProgress {
  int percent = 0;          // 0 to 100
  uint64_t bytesDone = 0;   // of the file or image moved so far
  uint64_t bytesTotal = 0;  // 0 while unknown
};

class TransferNotify {
 public:
  virtual ~TransferNotify() = default;
  // `detail`, when not empty, is shown on the line under the text: why, or what to check.
  virtual void NotifyStatus(int displayTime, const std::string& text,
                            const std::string& detail = {}) = 0;
  virtual void NotifyProgress(const TransferProgress& progress) = 0;
  // The worker has finished its part of the exchange; `completed` after a completed one.
  virtual void NotifyDone(bool completed) = 0;
};

}  // namespace kestal

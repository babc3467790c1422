#pragma once
// What the controller (on the front end's thread) and a running worker share. Each value is
// written by one side and read by the other.
#include <atomic>
#include <cstdint>

namespace kestal {

struct TransferState {
  // Cleared by the controller to end the worker's loop; the worker notices at its next test.
  std::atomic<bool> running{false};
  // A transfer has started and has not yet ended (cleared by every end).
  std::atomic<bool> active{false};
  // The front end is closing: notifications are no longer shown.
  std::atomic<bool> closing{false};
  // Ticks of the watchdog since the worker last moved the transfer on; -1 while disarmed.
  // The worker stores 0 (arms it) at every frame that moves the transfer on.
  std::atomic<int> watchdog{-1};
  // Set by the watchdog right before it stops the worker, so the worker knows why it ended.
  std::atomic<bool> watchdogTripped{false};
  // The worker prepares what it will send (packs the channel image) before it wakes the
  // receiver: nobody is waited for yet. Set by the controller at the start, cleared by the
  // worker once its wake-up burst is out.
  std::atomic<bool> preparing{false};
  // The size the download worker serves: the file measured at the start, then the image.
  std::atomic<int64_t> fileSize{0};
};

}  // namespace kestal

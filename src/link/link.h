#pragma once
// The one interface the protocol code sees of a serial line: open/close, writes, the receive
// queue the reader fills, and a way to sleep until bytes arrive. SerialLink implements it over
// termios; tests implement it with scripted peers and a manual clock.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "link/clock.h"
#include "link/receive_queue.h"

namespace kestal {

struct PortInfo;

// Called for every frame the codec sends or receives; `body` is sequence, command, length,
// payload and sum (n + 5 bytes). `result` is a FRAME_* code for received frames, 0 for sent ones.
using FrameTrace = std::function<void(bool sent, const uint8_t* body, size_t size, int result)>;

class Link {
 public:
  virtual ~Link() = default;

  // 1 = open and reader started, 0 = failed.
  virtual int OpenLink(const PortInfo& entry, uint32_t baud) = 0;
  // Closes the port; wakes anyone waiting in WaitForData. Safe when already closed.
  virtual void CloseLink() = 0;
  // Bytes written; 0 if the write failed at once (or the link is closed); -1 if it failed later.
  virtual int SendBytes(const uint8_t* data, int count) = 0;

  // The received bytes not yet taken by the frame reader (m_QueueRead).
  virtual ReceiveQueue& Queue() = 0;
  // Sleeps until the queue holds bytes, the link closes or hangs up, or the link's clock reaches
  // `deadlineMs`. May return early; callers re-test their conditions. Never busy-waits.
  virtual void WaitForData(uint64_t deadlineMs) = 0;
  // As WaitForData, but need not return before the queue holds `count` bytes: a frame reader
  // that knows how much of a frame is still to come sleeps through the pieces in between.
  virtual void WaitForBytes(uint64_t deadlineMs, size_t count) {
    (void)count;
    WaitForData(deadlineMs);
  }
  virtual const Clock& GetClock() const = 0;

  virtual bool IsOpen() const = 0;
  // The device went away (unplugged, other end of a pseudo-terminal closed) since the last open.
  virtual bool IsHungUp() const = 0;

  // Optional frame trace; set before a worker starts, read by the worker thread.
  FrameTrace frameTrace;
  // Where SendFrame lays out a sent frame for the trace; used by the sending thread only.
  std::vector<uint8_t> sentFrameForTrace;
};

}  // namespace kestal

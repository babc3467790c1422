#pragma once
// The one interface the protocol code sees of a serial line: open and close, writes, the receive
// queue the reader fills, and a way to sleep until bytes arrive. SerialLink implements it over
// termios; tests and the emulator implement it over scripted peers and pseudo-terminals.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "link/clock.h"
#include "link/receive_queue.h"

namespace kestal {

// Why a port did or did not open.
enum class OpenResult {
  Ok,
  NoSuchDevice,      // nothing at that path (unplugged, mistyped)
  PermissionDenied,  // the device's owner or group does not let us in
  Busy,              // held by another program (or by this one)
  NotSerial,         // opened, but not a terminal device
  Failed,            // anything else (the reader thread could not start, ...)
};

// What became of a write.
enum class SendResult {
  Ok,      // every byte handed to the driver
  Closed,  // the link is not open
  Failed,  // the device refused or went away
};

// Called for every frame the codec sends or receives; `body` is sequence, command, length,
// payload and sum. `intact` is false for a received frame whose sum did not match.
using FrameTrace = std::function<void(bool sent, const uint8_t* body, size_t size, bool intact)>;

// Sees the bytes a link writes and those its reader takes from the port, as they pass, and the
// port going away: what a recording of the session is made of. Called on the writing thread
// and on the reader thread; must return at once.
class ByteTap {
 public:
  virtual ~ByteTap() = default;
  virtual void Sent(const uint8_t* data, size_t size) = 0;
  virtual void Received(const uint8_t* data, size_t size) = 0;
  virtual void HungUp() = 0;
};

class Link {
 public:
  virtual ~Link() = default;

  // Opens `devicePath` exclusively, raw 8N1 at `baud`, and starts the reader.
  virtual OpenResult OpenLink(const std::string& devicePath, uint32_t baud) = 0;
  // Closes the port; wakes anyone waiting in WaitForData. Safe when already closed.
  virtual void CloseLink() = 0;
  virtual SendResult SendBytes(const uint8_t* data, size_t count) = 0;

  // The received bytes not yet taken by the frame reader.
  virtual ReceiveQueue& Queue() = 0;
  // Sleeps until the queue holds at least `count` bytes, the link closes or hangs up, or the
  // link's clock reaches `deadlineMs`. May return early; callers re-test their conditions.
  // Never busy-waits.
  virtual void WaitForBytes(uint64_t deadlineMs, size_t count) = 0;
  void WaitForData(uint64_t deadlineMs) { WaitForBytes(deadlineMs, 1); }
  virtual const Clock& GetClock() const = 0;

  virtual bool IsOpen() const = 0;
  // The device went away (unplugged, other end of a pseudo-terminal closed) since the last open.
  virtual bool IsHungUp() const = 0;

  // Optional frame trace; set before a worker starts, called on the worker's thread.
  FrameTrace frameTrace;
};

}  // namespace kestal

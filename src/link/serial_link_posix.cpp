// SerialLink over termios: the port opened exclusively in raw 8N1, a reader thread that polls it
// and an eventfd that releases the reader and any write in progress when the link closes.
#include "link/serial_link.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <utility>

#include "link/posix_serial.h"

namespace kestal {

namespace {
// A nap shorter than this is not worth a wake-up of its own; a longer one than this would keep a
// frame reader that gave up, or a hang-up, waiting.
constexpr auto kShortestNap = std::chrono::milliseconds(2);
constexpr auto kLongestNap = std::chrono::milliseconds(50);
}  // namespace

// One open of the port. Shared by the link, its reader and any write in progress, so a
// descriptor is closed only when nobody can still be using it (and its number reused).
struct SerialLink::OpenPort {
  int fd = -1;
  // Becomes readable, and stays so, once the link closes: releases the reader and writers.
  int wakeFd = -1;
  // Writes in progress. Closing discards pending output only when it aborts one of them, so
  // a final frame written just before the close still reaches the receiver.
  std::atomic<int> writers{0};

  OpenPort() = default;
  OpenPort(const OpenPort&) = delete;
  OpenPort& operator=(const OpenPort&) = delete;
  ~OpenPort() {
    posix::CloseExclusivePort(fd);
    if (wakeFd >= 0) ::close(wakeFd);
  }
  void Wake() const { (void)::eventfd_write(wakeFd, 1); }
};

OpenResult SerialLink::OpenLink(const std::string& devicePath, uint32_t baud) {
  BeginOpen();
  byteTime_ = std::chrono::nanoseconds(baud == 0 ? 0 : 10'000'000'000LL / baud);  // 8N1: 10 bits

  std::shared_ptr<OpenPort> port = std::exchange(adopted_, nullptr);
  if (port && adoptedPath_ == devicePath) {
    QueueChunk(adoptedBytes_.data(), adoptedBytes_.size());
  } else {
    port = std::make_shared<OpenPort>();
    const OpenResult opened = posix::OpenExclusiveRawPort(devicePath, baud, port->fd);
    if (opened != OpenResult::Ok) return opened;
  }
  adoptedBytes_.clear();
  port->wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (port->wakeFd < 0) {
    // Without its wake-up descriptor the reader could never be stopped: refuse the open.
    Notice("Error while creating ThreadWatchComm, " + friendlyName_);
    return OpenResult::Failed;
  }

  return StartReader(std::move(port));
}

void SerialLink::AdoptOpenPort(const std::string& devicePath, int fd,
                               std::vector<uint8_t> received) {
  adopted_ = std::make_shared<OpenPort>();
  adopted_->fd = fd;
  adoptedPath_ = devicePath;
  adoptedBytes_ = std::move(received);
}

void SerialLink::CloseLink() {
  open_.store(false, std::memory_order_release);
  std::shared_ptr<OpenPort> port;
  {
    std::lock_guard lock(portMutex_);
    port.swap(port_);
  }
  if (port) port->Wake();
  JoinReader();
  if (port) {
    const bool writeAborted = port->writers.load(std::memory_order_acquire) > 0;
    (void)::tcflush(port->fd, writeAborted ? TCIOFLUSH : TCIFLUSH);
  }
  SignalData();
  // `port` goes here; a write still in progress holds its own reference and lets go as soon
  // as the wake-up reaches it.
}

SendResult SerialLink::SendBytes(const uint8_t* data, size_t count) {
  const std::shared_ptr<OpenPort> port = CurrentPort();
  if (!port) return SendResult::Closed;
  if (tap_ != nullptr) tap_->Sent(data, count);
  port->writers.fetch_add(1, std::memory_order_acq_rel);
  const SendResult result = WriteAll(*port, data, count);
  port->writers.fetch_sub(1, std::memory_order_acq_rel);
  return result;
}

SendResult SerialLink::WriteAll(const OpenPort& port, const uint8_t* data, size_t total) {
  size_t written = 0;
  while (written < total) {
    const ssize_t n = ::write(port.fd, data + written, total - written);
    if (n > 0) {
      written += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) return SendResult::Failed;
    // Output buffer full: sleep until it drains or the link closes.
    pollfd fds[2] = {{port.fd, POLLOUT, 0}, {port.wakeFd, POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return SendResult::Failed;
    }
    if (fds[1].revents != 0) return SendResult::Closed;
    if ((fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) return SendResult::Failed;
  }
  return SendResult::Ok;
}

void SerialLink::ReadPort(std::shared_ptr<OpenPort> port) {
  posix::RaiseCurrentThreadPriority();
  pollfd fds[2] = {{port->fd, POLLIN, 0}, {port->wakeFd, POLLIN, 0}};
  while (IsOpen()) {
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      MarkHungUp();
      return;
    }
    if (fds[1].revents != 0) return;  // CloseLink
    if (fds[0].revents == 0) continue;
    // Whatever is still buffered is delivered before a hang-up is reported.
    const bool alive = DrainPort(port->fd);
    if (!alive || (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
      MarkHungUp();
      return;  // a gone device stays readable for ever; waiting on it again would spin
    }
    NapWhileArriving(*port);
  }
}

// At line speed a long frame arrives a dozen bytes a millisecond, and waking for every piece
// costs more than the rest of a transfer. While the frame reader still misses bytes, the port
// is left alone for about the time they take on the line, less a couple of pieces so the last
// of them are read as they come. A close ends the nap at once.
void SerialLink::NapWhileArriving(const OpenPort& port) {
  const uint32_t wanted = wantedBytes_.load();
  const uint32_t held = queue_.Count();
  if (wanted <= held) return;
  const auto nap =
      std::min<std::chrono::nanoseconds>(byteTime_ * (wanted - held), kLongestNap) - kShortestNap;
  if (nap < kShortestNap) return;
  pollfd wake{port.wakeFd, POLLIN, 0};
  (void)::poll(
      &wake, 1,
      static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(nap).count()));
}

bool SerialLink::DrainPort(int fd) {
  uint8_t chunk[kReadChunk];
  bool readAny = false;
  while (IsOpen()) {
    const ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n > 0) {
      QueueChunk(chunk, static_cast<size_t>(n));
      readAny = true;
    } else if (n == 0) {
      // Raw reads return 0 when nothing is buffered; right after poll() reported the port
      // readable, that means the device went away.
      return readAny;
    } else if (errno == EAGAIN) {
      return true;
    } else if (errno != EINTR) {
      return false;  // EIO and the like: the device is gone
    }
  }
  return true;
}

}  // namespace kestal

#include "link/serial_link.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <ctime>
#include <system_error>

#include "link/arrival_pace.h"
#include "link/posix_serial.h"
#include "ports/port_info.h"

namespace kestal {

namespace {
constexpr size_t kReadChunk = 2048;
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

SerialLink::SerialLink(const Clock& clock) : m_clock(clock) {}

SerialLink::~SerialLink() { CloseLink(); }

int SerialLink::OpenLink(const PortInfo& entry, uint32_t baud) {
  CloseLink();  // one reader per queue, ever
  m_bHungUp.store(0, std::memory_order_release);
  m_strFriendlyName = entry.m_strFriendlyName;

  auto port = std::make_shared<OpenPort>();
  port->fd = posix::OpenExclusiveRawPort(entry.m_strDevicePath, baud);
  if (port->fd < 0) return 0;
  port->wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (port->wakeFd < 0) {
    // Without its wake-up descriptor the reader could never be stopped: refuse the open.
    Notice("Error while creating ThreadWatchComm, " + m_strFriendlyName);
    return 0;
  }

  {
    std::lock_guard lock(m_portMutex);
    m_port = port;
  }
  m_bLinkOpen.store(1, std::memory_order_release);
  try {
    m_hReaderThread = std::thread(&SerialLink::ThreadWatchComm, this, port, baud);
  } catch (const std::system_error&) {
    CloseLink();
    return 0;
  }
  return 1;
}

void SerialLink::CloseLink() {
  m_bLinkOpen.store(0, std::memory_order_release);
  std::shared_ptr<OpenPort> port;
  {
    std::lock_guard lock(m_portMutex);
    port.swap(m_port);
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

void SerialLink::JoinReader() {
  if (!m_hReaderThread.joinable()) return;
  if (m_hReaderThread.get_id() == std::this_thread::get_id()) {
    m_hReaderThread.detach();  // closed from a notice handler: the reader ends on its own
  } else {
    m_hReaderThread.join();  // prompt: the reader never blocks except in its poll
  }
}

int SerialLink::SendBytes(const uint8_t* data, int count) {
  const std::shared_ptr<OpenPort> port = CurrentPort();
  if (!port || count <= 0) return 0;
  port->writers.fetch_add(1, std::memory_order_acq_rel);
  const int result = WriteAll(*port, data, static_cast<size_t>(count));
  port->writers.fetch_sub(1, std::memory_order_acq_rel);
  return result;
}

int SerialLink::WriteAll(const OpenPort& port, const uint8_t* data, size_t total) {
  size_t written = 0;
  bool started = false;  // a failure after this point is a failed write in progress (-1)
  while (written < total) {
    const ssize_t n = ::write(port.fd, data + written, total - written);
    if (n > 0) {
      written += static_cast<size_t>(n);
      started = true;
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) return started ? -1 : 0;
    // Output buffer full: sleep until it drains or the link closes.
    started = true;
    pollfd fds[2] = {{port.fd, POLLOUT, 0}, {port.wakeFd, POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (fds[1].revents != 0) return -1;
    if ((fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) return -1;
  }
  return static_cast<int>(total);
}

int SerialLink::FetchBytes(uint8_t* dest, int max) {
  const std::shared_ptr<OpenPort> port = CurrentPort();
  if (!port || max <= 0) return 0;
  const ssize_t n = ::read(port->fd, dest, static_cast<size_t>(max));
  return n > 0 ? static_cast<int>(n) : 0;
}

void SerialLink::WaitForData(uint64_t deadlineMs) { WaitForBytes(deadlineMs, 1); }

void SerialLink::WaitForBytes(uint64_t deadlineMs, size_t count) {
  // Capped at one read's worth: with that much held the reader can still queue two more reads,
  // so a long frame is drained while it arrives and never meets a full queue.
  const auto wanted = static_cast<uint32_t>(std::clamp<size_t>(count, 1, kReadChunk));
  std::unique_lock lock(m_waitMutex);
  // Published before the queue is tested; the reader publishes the queue before it reads this
  // (fenced on both sides), so one of the two always sees the other.
  m_wantedBytes.store(wanted);
  std::atomic_thread_fence(std::memory_order_seq_cst);
  // The reader changes the queue and the flags before taking m_waitMutex to notify, so testing
  // them under the mutex cannot miss a wake-up.
  while (m_QueueRead.Count() < wanted && IsOpen() && !IsHungUp()) {
    const uint64_t now = m_clock.NowMs();
    if (now >= deadlineMs) break;
    m_dataArrived.wait_for(lock, std::chrono::milliseconds(deadlineMs - now));
  }
  m_wantedBytes.store(0);
}

size_t SerialLink::MissingBytes() const {
  const uint32_t wanted = m_wantedBytes.load(std::memory_order_relaxed);
  const uint32_t queued = m_QueueRead.Count();
  return wanted > queued ? wanted - queued : 0;
}

namespace {

// Sleeps for `nap` unless `wakeFd` becomes readable first; true when it did (the link closes).
bool NapUnlessWoken(int wakeFd, std::chrono::nanoseconds nap) {
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(nap);
  const timespec timeout{static_cast<time_t>(seconds.count()),
                         static_cast<long>((nap - seconds).count())};
  pollfd wake{wakeFd, POLLIN, 0};
  return ::ppoll(&wake, 1, &timeout, nullptr) > 0;
}

}  // namespace

void SerialLink::ThreadWatchComm(std::shared_ptr<OpenPort> port, uint32_t baud) {
  posix::RaiseCurrentThreadPriority();
  ArrivalPace pace(baud);
  pollfd fds[2] = {{port->fd, POLLIN, 0}, {port->wakeFd, POLLIN, 0}};
  while (IsOpen()) {
    // While a long frame trickles in at the line's pace, let the port gather it.
    const auto nap = pace.NapFor(MissingBytes());
    if (nap.count() > 0 && NapUnlessWoken(port->wakeFd, nap)) return;  // CloseLink
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      MarkHungUp();
      return;
    }
    if (fds[1].revents != 0) return;  // CloseLink
    if (fds[0].revents == 0) continue;
    // Whatever is still buffered is delivered before a hang-up is reported.
    size_t count = 0;
    const bool alive = DrainPort(port->fd, count);
    if (count > 0) pace.OnBytes(count, std::chrono::steady_clock::now());
    if (!alive || (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
      MarkHungUp();
      return;  // a gone device stays readable for ever; waiting on it again would spin
    }
  }
}

bool SerialLink::DrainPort(int fd, size_t& count) {
  uint8_t chunk[kReadChunk];
  while (IsOpen()) {
    const ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n > 0) {
      QueueChunk(chunk, static_cast<size_t>(n));
      count += static_cast<size_t>(n);
    } else if (n == 0) {
      // Raw reads return 0 when nothing is buffered; right after poll() reported the port
      // readable, that means the device went away.
      return count > 0;
    } else if (errno == EAGAIN) {
      return true;
    } else if (errno != EINTR) {
      return false;  // EIO and the like: the device is gone
    }
  }
  return true;
}

void SerialLink::QueueChunk(const uint8_t* chunk, size_t size) {
  if (!m_QueueRead.PushChunk(chunk, size)) {
    Notice("m_QueueRead FULL!");
    return;
  }
  std::atomic_thread_fence(std::memory_order_seq_cst);  // pairs with WaitForBytes' store
  if (m_QueueRead.Count() >= m_wantedBytes.load()) SignalData();
}

void SerialLink::MarkHungUp() {
  m_bHungUp.store(1, std::memory_order_release);
  SignalData();
}

std::shared_ptr<SerialLink::OpenPort> SerialLink::CurrentPort() const {
  std::lock_guard lock(m_portMutex);
  return m_port;
}

void SerialLink::SignalData() {
  { std::lock_guard lock(m_waitMutex); }
  m_dataArrived.notify_all();
}

void SerialLink::Notice(const std::string& text) const {
  if (m_onNotice) m_onNotice(text);
}

}  // namespace kestal

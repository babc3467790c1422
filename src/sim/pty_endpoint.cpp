#include "sim/pty_endpoint.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace kestal::sim {

namespace {

// A client that stops reading for this long makes a write fail instead of hanging the emulator.
constexpr int kWriteStallMs = 5000;

// Payload of one full-speed USB bulk packet of an FTDI-style adapter (64 bytes less 2 of
// modem status): a full packet goes at once, whatever the latency timer.
constexpr size_t kUsbPacketBytes = 62;

std::string Failure(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

}  // namespace

std::unique_ptr<PtyEndpoint> PtyEndpoint::Create(std::string* error) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0) {
    if (error) *error = Failure("posix_openpt");
    return nullptr;
  }
  char name[256] = {};
  if (grantpt(master) != 0 || unlockpt(master) != 0 || ptsname_r(master, name, sizeof name) != 0) {
    if (error) *error = Failure("pseudo-terminal setup");
    close(master);
    return nullptr;
  }
  const int slave = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  termios tio{};
  if (slave < 0 || tcgetattr(slave, &tio) != 0) {
    if (error) *error = Failure("open slave");
    if (slave >= 0) close(slave);
    close(master);
    return nullptr;
  }
  cfmakeraw(&tio);
  tcsetattr(slave, TCSANOW, &tio);
  fcntl(master, F_SETFD, FD_CLOEXEC);
  fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
  return std::unique_ptr<PtyEndpoint>(new PtyEndpoint(master, slave, name));
}

PtyEndpoint::PtyEndpoint(int master, int ownSlave, std::string slavePath)
    : master_(master), ownSlave_(ownSlave), slavePath_(std::move(slavePath)) {}

PtyEndpoint::~PtyEndpoint() {
  CloseLink();
  ReleaseOwnSlave();
}

void PtyEndpoint::ReleaseOwnSlave() {
  if (ownSlave_ >= 0) close(ownSlave_);
  ownSlave_ = -1;
}

bool PtyEndpoint::AwaitClientReturn() {
  ReleaseOwnSlave();
  ownSlave_ = open(slavePath_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (ownSlave_ < 0 && errno != EBUSY) return false;  // EBUSY: the client is back already
  hungUp_ = false;
  return true;
}

void PtyEndpoint::SetBaud(uint32_t baud) {
  pacer_ = BytePacer(baud);
  // Paced pieces are a millisecond apart; the default timer slack (50 us) would hand each over
  // late by a noticeable share of that. The endpoint is driven by one thread, its caller.
  if (pacer_.Paced()) (void)prctl(PR_SET_TIMERSLACK, 1UL);
}

OpenResult PtyEndpoint::OpenLink(const std::string&, uint32_t baud) {
  SetBaud(baud);
  return IsOpen() ? OpenResult::Ok : OpenResult::Failed;
}

void PtyEndpoint::CloseLink() {
  if (master_ >= 0) close(master_);
  master_ = -1;
}

SendResult PtyEndpoint::SendBytes(const uint8_t* data, size_t total) {
  if (master_ < 0) return SendResult::Closed;
  const size_t chunk = pacer_.ChunkBytes();
  // The whole write is one stream on the line, timed from one start, so a late wake-up for
  // one piece never delays the pieces after it.
  const auto start = pacer_.Reserve(total, std::chrono::steady_clock::now());
  size_t done = 0;
  while (done < total) {
    const size_t piece = std::min(chunk, total - done);
    // A piece is handed over once the line has carried it, as the far end of a serial line
    // has a byte only after its stop bit; writing it at the start of its line time would let
    // every frame arrive up to a piece early.
    if (pacer_.Paced()) std::this_thread::sleep_until(start + pacer_.LineTime(done + piece));
    if (!Hand(data + done, piece)) return SendResult::Failed;
    done += piece;
  }
  pacer_.Handed(std::chrono::steady_clock::now());
  return SendResult::Ok;
}

bool PtyEndpoint::Hand(const uint8_t* data, size_t count) {
  if (hold_.count() == 0) return WriteAll(data, count);
  if (held_.empty()) heldSince_ = std::chrono::steady_clock::now();
  held_.insert(held_.end(), data, data + count);
  size_t sent = 0;
  for (; held_.size() - sent >= kUsbPacketBytes; sent += kUsbPacketBytes) {
    if (!WriteAll(held_.data() + sent, kUsbPacketBytes)) return false;
  }
  held_.erase(held_.begin(), held_.begin() + static_cast<std::ptrdiff_t>(sent));
  if (sent > 0) heldSince_ = std::chrono::steady_clock::now();  // the timer restarts per packet
  return FlushDueHeld();
}

bool PtyEndpoint::FlushDueHeld() {
  if (held_.empty() || std::chrono::steady_clock::now() < heldSince_ + hold_) return true;
  const bool written = WriteAll(held_.data(), held_.size());
  held_.clear();
  return written;
}

uint64_t PtyEndpoint::HeldWaitMs() const {
  const auto left = heldSince_ + hold_ - std::chrono::steady_clock::now();
  return static_cast<uint64_t>(
      std::max<int64_t>(0, std::chrono::ceil<std::chrono::milliseconds>(left).count()));
}

bool PtyEndpoint::WriteAll(const uint8_t* data, size_t count) {
  size_t done = 0;
  while (done < count) {
    const ssize_t n = write(master_, data + done, count - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) {
      pollfd pfd{master_, POLLOUT, 0};
      if (poll(&pfd, 1, kWriteStallMs) > 0 && (pfd.revents & POLLOUT)) continue;
      return false;
    }
    if (n < 0 && errno == EIO) hungUp_ = true;
    return false;
  }
  return true;
}

namespace {
constexpr uint64_t kWaitSliceMs = 250;
}  // namespace

void PtyEndpoint::WaitForBytes(uint64_t deadlineMs, size_t /*count*/) {
  // Returns as soon as anything is queued: the caller takes it and asks again, and the queue
  // never fills waiting for a count it cannot hold.
  // Held bytes go on from here too: the emulator writes a frame and then waits for the answer.
  if (master_ < 0 || hungUp_ || !FlushDueHeld() || queue_.Count() > 0) return;
  const uint64_t now = GetClock().NowMs();
  // Sleeps in slices of at most a quarter second: a sanitizer runtime may hold a signal back
  // until the next call it watches, and SIGTERM must still end the emulator promptly.
  uint64_t wait = std::min<uint64_t>(deadlineMs > now ? deadlineMs - now : 0, kWaitSliceMs);
  if (!held_.empty()) wait = std::min(wait, HeldWaitMs());
  pollfd pfd{master_, POLLIN, 0};
  const int ready = poll(&pfd, 1, static_cast<int>(wait));
  if (ready <= 0) return;  // time-out, or a signal: the caller re-tests its conditions
  if (pfd.revents & POLLIN) {
    ReadAvailable();
  } else if (pfd.revents & (POLLHUP | POLLERR)) {
    hungUp_ = true;
  }
}

void PtyEndpoint::ReadAvailable() {
  const uint32_t space = ReceiveQueue::kCapacity - queue_.Count();
  if (space == 0) return;
  uint8_t buffer[ReceiveQueue::kRingSize];
  const ssize_t n = read(master_, buffer, std::min<size_t>(space, sizeof buffer));
  if (n > 0) {
    queue_.PushChunk(buffer, static_cast<size_t>(n));  // fits: at most `space` bytes were read
  } else if (n == 0 || errno == EIO) {
    // Every slave descriptor is closed: the client went away.
    hungUp_ = true;
  }
}

}  // namespace kestal::sim

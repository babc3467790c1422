// --port auto: every USB serial and virtual port is woken at once, and the transfer runs on the
// first one whose receiver asks, with the request already read. Should that port go away before
// its receiver says more than its request, the run goes on with the next port that asks: the
// others stay open, unread, until then.
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "cli/port_auto.h"
#include "cli/signal_watcher.h"
#include "cli/terminal.h"
#include "cli/transfer_session.h"
#include "common/printable.h"
#include "link/frame_codec.h"
#include "link/posix_serial.h"
#include "ports/port_discovery.h"
#include "transfer/status_texts.h"
#include "transfer/transfer_controller.h"

namespace kestal::cli {
namespace {

using Clock = std::chrono::steady_clock;

// A CMD_REQUEST carries a 32-bit value; anything longer is another frame.
constexpr uint16_t kRequestPayload = 4;

struct Candidate {
  PortInfo port;
  int fd = -1;                 // -1 once closed or handed to a transfer
  bool asked = false;          // its request has been read
  std::vector<uint8_t> bytes;  // received, not yet ruled out as the start of a request
};

// True once `bytes` hold a whole CMD_REQUEST with a good sum, from its sync on. Bytes that
// cannot begin one are dropped, so the buffer stays a frame long.
bool HoldsRequest(std::vector<uint8_t>& bytes) {
  constexpr size_t kSync = sizeof kFrameSync;
  constexpr size_t kWhole = kSync + kFrameHeaderSize + kRequestPayload + 1;
  for (;;) {
    const auto sync = std::search(bytes.begin(), bytes.end(), kFrameSync, kFrameSync + kSync);
    if (sync == bytes.end()) {
      // Keep a tail that may be the first bytes of a sync.
      bytes.erase(bytes.begin(), bytes.end() - std::min<size_t>(bytes.size(), kSync - 1));
      return false;
    }
    bytes.erase(bytes.begin(), sync);
    if (bytes.size() < kWhole) return false;
    const uint8_t* body = bytes.data() + kSync;
    if (body[1] == CMD_REQUEST && GetBE16(body + 2) == kRequestPayload &&
        FrameSum(body, kFrameHeaderSize + kRequestPayload) == body[kWhole - kSync - 1]) {
      return true;
    }
    bytes.erase(bytes.begin());  // not a request: look for the next sync
  }
}

enum class Heard { Nothing, Request, Gone };

// Reads what a port has. A port that reads as an error or as nothing at all has hung up.
Heard Hear(Candidate& candidate) {
  uint8_t buffer[256];
  const ssize_t n = ::read(candidate.fd, buffer, sizeof buffer);
  if (n < 0 && (errno == EAGAIN || errno == EINTR)) return Heard::Nothing;
  if (n <= 0) return Heard::Gone;
  candidate.bytes.insert(candidate.bytes.end(), buffer, buffer + n);
  return HoldsRequest(candidate.bytes) ? Heard::Request : Heard::Nothing;
}

// The signals that stop a transfer, blocked for the whole run and read from a descriptor polled
// beside the ports; a transfer's own watcher reads them meanwhile. The previous mask comes back
// when it goes.
class ProbeSignals {
 public:
  ProbeSignals() {
    const sigset_t set = WatchedSignals();
    sigprocmask(SIG_BLOCK, &set, &previous_);
    fd_ = signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
  }
  ~ProbeSignals() {
    // The run's outcome is settled: a signal still pending must not end the process as it goes.
    while (Caught()) {
    }
    ::close(fd_);
    sigprocmask(SIG_SETMASK, &previous_, nullptr);
  }
  ProbeSignals(const ProbeSignals&) = delete;
  ProbeSignals& operator=(const ProbeSignals&) = delete;

  int Fd() const { return fd_; }
  // Takes a signal that has come, pending ones included: one that came while nobody looked must
  // not kill the process once the mask is restored.
  bool Caught() const {
    signalfd_siginfo info{};
    return ::read(fd_, &info, sizeof info) == static_cast<ssize_t>(sizeof info);
  }

 private:
  sigset_t previous_{};
  int fd_ = -1;
};

enum class ProbeEnd { Asked, Stopped, TimedOut, AllGone };

// The woken ports, and the order in which their receivers asked.
class Probe {
 public:
  explicit Probe(double timeoutSeconds);
  ~Probe() { CloseAll(); }
  Probe(const Probe&) = delete;
  Probe& operator=(const Probe&) = delete;

  bool Empty() const { return candidates_.empty(); }
  // The next port whose receiver has asked: one that asked already, or the next to ask.
  ProbeEnd AwaitAsker(const ProbeSignals& signals, Candidate*& asker);
  // A port is open that a transfer has not taken: one that asked, or may yet.
  bool AnyOpen() const {
    return std::any_of(candidates_.begin(), candidates_.end(),
                       [](const Candidate& c) { return c.fd >= 0; });
  }
  void CloseAll() {
    for (Candidate& candidate : candidates_) Close(candidate);
  }

 private:
  static void Close(Candidate& candidate);
  // Waits until a port has something and reads it; how the search ends, if it does.
  std::optional<ProbeEnd> WatchPorts(const ProbeSignals& signals);

  std::vector<Candidate> candidates_;  // filled once: the pointers below stay valid
  std::deque<Candidate*> askers_;      // asked, not yet handed to a transfer
  std::optional<Clock::time_point> deadline_;
};

// The ports a receiver may sit on: USB adapters and emulators. Built-in UARTs are left alone;
// waking a modem or a console on one is not ours to do.
Probe::Probe(double timeoutSeconds) {
  if (timeoutSeconds > 0) {
    deadline_ = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                   std::chrono::duration<double>(timeoutSeconds));
  }
  for (const PortInfo& port : EnumeratePorts().ports) {
    if (!port.usb && !port.virtualPort) continue;
    Candidate candidate;
    candidate.port = port;
    if (posix::OpenExclusiveRawPort(port.devicePath, kLinkBaud, candidate.fd) != OpenResult::Ok) {
      continue;  // held by another program, say: it is not the one to wait for
    }
    const ssize_t written = ::write(candidate.fd, WakeUpBurst, sizeof WakeUpBurst);
    if (written != static_cast<ssize_t>(sizeof WakeUpBurst)) Close(candidate);
    if (candidate.fd >= 0) candidates_.push_back(std::move(candidate));
  }
}

void Probe::Close(Candidate& candidate) {
  if (candidate.fd >= 0) posix::CloseExclusivePort(candidate.fd);
  candidate.fd = -1;
}

int PollTimeoutMs(std::optional<Clock::time_point> deadline) {
  if (!deadline) return -1;
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline - Clock::now());
  return static_cast<int>(std::max<std::chrono::milliseconds::rep>(0, left.count()));
}

ProbeEnd Probe::AwaitAsker(const ProbeSignals& signals, Candidate*& asker) {
  while (askers_.empty()) {
    if (const std::optional<ProbeEnd> end = WatchPorts(signals)) return *end;
  }
  // A port that asked is handed on even if it has hung up since: the transfer finds that out
  // and comes back here, whenever the hang-up came.
  asker = askers_.front();
  askers_.pop_front();
  return signals.Caught() ? ProbeEnd::Stopped : ProbeEnd::Asked;
}

std::optional<ProbeEnd> Probe::WatchPorts(const ProbeSignals& signals) {
  std::vector<pollfd> fds{{signals.Fd(), POLLIN, 0}};
  std::vector<Candidate*> watched;
  for (Candidate& candidate : candidates_) {
    if (candidate.fd < 0 || candidate.asked) continue;
    fds.push_back({candidate.fd, POLLIN, 0});
    watched.push_back(&candidate);
  }
  if (watched.empty()) return ProbeEnd::AllGone;
  const int ready = ::poll(fds.data(), fds.size(), PollTimeoutMs(deadline_));
  if (signals.Caught()) return ProbeEnd::Stopped;
  if (ready == 0 && deadline_) return ProbeEnd::TimedOut;
  for (size_t i = 0; i < watched.size(); ++i) {
    const short events = fds[i + 1].revents;
    if (events == 0) continue;
    Candidate& candidate = *watched[i];
    const Heard heard = Hear(candidate);
    if (heard == Heard::Request) {
      candidate.asked = true;
      askers_.push_back(&candidate);
    } else if (heard == Heard::Gone || (events & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
      Close(candidate);  // gone before it asked: not the one to wait for
    }
  }
  return std::nullopt;
}

// One asker's port handed to a transfer; the run is handed on should the port go first.
class AskerHandOver : public PortHandOver {
 public:
  AskerHandOver(Probe& probe, Candidate& asker) : probe_(probe), asker_(asker) {}

  void Adopt(SerialLink& link) override {
    link.AdoptOpenPort(asker_.port.devicePath, asker_.fd, std::move(asker_.bytes));
    asker_.fd = -1;  // the link's now
  }
  void Answered() override { probe_.CloseAll(); }
  bool PassOn() override {
    passedOn_ = probe_.AnyOpen();
    return passedOn_;
  }
  bool PassedOn() const { return passedOn_; }

 private:
  Probe& probe_;
  Candidate& asker_;
  bool passedOn_ = false;
};

std::string SecondsText(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", seconds);
  return text;
}

// Prints why the search ended without a port to run on; the exit status.
int ReportProbeEnd(ProbeEnd end, const TransferOptions& options) {
  if (end == ProbeEnd::Stopped) {
    std::fprintf(stderr, "%s\n", text::kInterrupted);
  } else if (end == ProbeEnd::TimedOut) {
    std::fprintf(stderr, "No request from the receiver within %s s.\n",
                 SecondsText(options.timeoutSeconds).c_str());
  } else {
    std::fprintf(stderr, "%s\nEvery port that was woken has gone away.\n", text::kPortDisconnected);
  }
  return 1;
}

}  // namespace

int RunOnAnsweringPort(const TransferOptions& options) {
  Probe probe(options.timeoutSeconds);
  if (probe.Empty()) {
    std::fprintf(stderr,
                 "%s\nNo USB serial or virtual port could be opened; name one with --port "
                 "(see kestal-cli ports).\n",
                 text::kOpenPortFailed);
    return 1;
  }
  // Watched before the waiting line shows: a signal sent on seeing it stops the search rather
  // than killing the process.
  const ProbeSignals signals;
  std::fprintf(stderr, "%s\n", text::kWaiting);
  TransferOptions onAsker = options;
  onAsker.waitingShown = true;
  for (;;) {
    Candidate* asker = nullptr;
    const ProbeEnd end = probe.AwaitAsker(signals, asker);
    if (end != ProbeEnd::Asked) return ReportProbeEnd(end, options);
    AskerHandOver handOver(probe, *asker);
    const int status = RunTransfer(onAsker, asker->port, stderr, IsTerminal(stderr), &handOver);
    if (!handOver.PassedOn()) return status;
    if (!options.quiet && options.progress != ProgressStyle::Json) {
      std::fprintf(stderr,
                   "%s went away before its receiver was answered; going on with the "
                   "next port that asks.\n",
                   Printable(asker->port.friendlyName).c_str());
    }
  }
}

}  // namespace kestal::cli

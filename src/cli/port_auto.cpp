#include "cli/port_auto.h"

#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "cli/signal_watcher.h"
#include "cli/transfer_session.h"
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
  int fd = -1;
  std::vector<uint8_t> bytes;  // received, not yet ruled out as the start of a request
};

// True once `bytes` hold a whole CMD_REQUEST with a good sum. Bytes that cannot begin one are
// dropped, so the buffer stays a frame long.
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

// The ports a receiver may sit on: USB adapters and emulators. Built-in UARTs are left alone;
// waking a modem or a console on one is not ours to do.
std::vector<Candidate> OpenCandidates() {
  std::vector<Candidate> open;
  for (const PortInfo& port : EnumeratePorts().ports) {
    if (!port.usb && !port.virtualPort) continue;
    Candidate candidate;
    candidate.port = port;
    if (posix::OpenExclusiveRawPort(port.devicePath, kLinkBaud, candidate.fd) != OpenResult::Ok) {
      continue;  // held by another program, say: it is not the one to wait for
    }
    const ssize_t written = ::write(candidate.fd, WakeUpBurst, sizeof WakeUpBurst);
    if (written == static_cast<ssize_t>(sizeof WakeUpBurst)) {
      open.push_back(std::move(candidate));
    } else {
      posix::CloseExclusivePort(candidate.fd);
    }
  }
  return open;
}

// The signals that stop a transfer, as a descriptor to poll beside the ports; the previous mask
// is restored when it goes.
class ProbeSignals {
 public:
  ProbeSignals() {
    const sigset_t set = WatchedSignals();
    sigprocmask(SIG_BLOCK, &set, &previous_);
    fd_ = signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
  }
  ~ProbeSignals() {
    ::close(fd_);
    sigprocmask(SIG_SETMASK, &previous_, nullptr);
  }
  ProbeSignals(const ProbeSignals&) = delete;
  ProbeSignals& operator=(const ProbeSignals&) = delete;

  int Fd() const { return fd_; }
  // Takes a signal that has come, pending ones included: one that came after the probe ended
  // must not kill the process once the mask is restored.
  bool Caught() const {
    signalfd_siginfo info{};
    return ::read(fd_, &info, sizeof info) == static_cast<ssize_t>(sizeof info);
  }

 private:
  sigset_t previous_{};
  int fd_ = -1;
};

int PollTimeoutMs(std::optional<Clock::time_point> deadline) {
  if (!deadline) return -1;
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline - Clock::now());
  return static_cast<int>(std::max<std::chrono::milliseconds::rep>(0, left.count()));
}

// Reads what a port has; true when its receiver has asked for data.
bool Answered(Candidate& candidate) {
  uint8_t buffer[256];
  const ssize_t n = ::read(candidate.fd, buffer, sizeof buffer);
  if (n <= 0) return false;
  candidate.bytes.insert(candidate.bytes.end(), buffer, buffer + n);
  return HoldsRequest(candidate.bytes);
}

// True when the port has hung up by now (its request may have been the last it said).
bool Vanished(const pollfd& port) {
  pollfd now{port.fd, POLLIN, 0};
  return ::poll(&now, 1, 0) < 0 || (now.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

enum class ProbeEnd { Answered, Stopped, TimedOut };

// Waits for the first request; `winner` is its index among `candidates`.
ProbeEnd AwaitFirstRequest(std::vector<Candidate>& candidates, const ProbeSignals& signals,
                           double timeoutSeconds, size_t& winner) {
  std::optional<Clock::time_point> deadline;
  if (timeoutSeconds > 0) {
    deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                  std::chrono::duration<double>(timeoutSeconds));
  }
  std::vector<pollfd> fds{{signals.Fd(), POLLIN, 0}};
  for (const Candidate& candidate : candidates) fds.push_back({candidate.fd, POLLIN, 0});
  for (;;) {
    const int ready = ::poll(fds.data(), fds.size(), PollTimeoutMs(deadline));
    if (signals.Caught()) return ProbeEnd::Stopped;
    if (ready == 0 && deadline) return ProbeEnd::TimedOut;
    for (size_t i = 1; i < fds.size(); ++i) {
      // A port gone away (unplugged, its emulator ended), even right after its receiver asked,
      // is no longer watched: the next port that asks is the one.
      const bool asked = (fds[i].revents & POLLIN) != 0 && Answered(candidates[i - 1]);
      if ((fds[i].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0 || (asked && Vanished(fds[i]))) {
        fds[i].fd = -1;
      } else if (asked) {
        winner = i - 1;
        return signals.Caught() ? ProbeEnd::Stopped : ProbeEnd::Answered;
      }
    }
  }
}

std::string SecondsText(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", seconds);
  return text;
}

}  // namespace

int RunOnAnsweringPort(const TransferOptions& options) {
  std::vector<Candidate> candidates = OpenCandidates();
  if (candidates.empty()) {
    std::fprintf(stderr,
                 "%s\nNo USB serial or virtual port could be opened; name one with --port "
                 "(see kestal-cli ports).\n",
                 text::kOpenPortFailed);
    return 1;
  }
  size_t winner = 0;
  ProbeEnd end = ProbeEnd::Stopped;
  {
    // Watched before the waiting line shows: a signal sent on seeing it stops the search
    // rather than killing the process.
    const ProbeSignals signals;
    std::fprintf(stderr, "%s\n", text::kWaiting);
    end = AwaitFirstRequest(candidates, signals, options.timeoutSeconds, winner);
  }
  // The others are closed untouched. The winner goes to the transfer as it is, open, with the
  // request already read: a receiver that asks only once is answered all the same.
  for (size_t i = 0; i < candidates.size(); ++i) {
    if (end != ProbeEnd::Answered || i != winner) posix::CloseExclusivePort(candidates[i].fd);
  }
  if (end == ProbeEnd::Stopped) {
    std::fprintf(stderr, "%s\n", text::kInterrupted);
    return 1;
  }
  if (end == ProbeEnd::TimedOut) {
    std::fprintf(stderr, "No request from the receiver within %s s.\n",
                 SecondsText(options.timeoutSeconds).c_str());
    return 1;
  }
  TransferOptions onWinner = options;
  onWinner.waitingShown = true;
  Candidate& found = candidates[winner];
  return RunTransfer(onWinner, found.port, stderr, isatty(STDERR_FILENO) != 0,
                     [&found](SerialLink& link) {
                       link.AdoptOpenPort(found.port.devicePath, found.fd, std::move(found.bytes));
                     });
}

}  // namespace kestal::cli

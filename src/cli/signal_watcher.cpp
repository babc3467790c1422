#include "cli/signal_watcher.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

namespace kestal::cli {
namespace {

// Every signal whose default action ends the process and that can be caught: each would leave
// a receive's temporary file behind. SIGPIPE is ignored instead and SIGXFSZ stays with the write
// that exceeded the limit, which then fails on its own.
constexpr int kTerminatingSignals[] = {SIGINT,  SIGTERM, SIGHUP,    SIGQUIT, SIGUSR1,
                                       SIGUSR2, SIGALRM, SIGVTALRM, SIGPROF, SIGIO,
                                       SIGPWR,  SIGXCPU, SIGSTKFLT};

// A signal ignored when the program started (nohup) stays ignored: watching it would turn it
// into a stop.
bool IgnoredAtStart(int signal) {
  struct sigaction action {};
  return sigaction(signal, nullptr, &action) == 0 && action.sa_handler == SIG_IGN;
}

void AddUnlessIgnored(sigset_t& set, int signal) {
  if (!IgnoredAtStart(signal)) sigaddset(&set, signal);
}

}  // namespace

sigset_t WatchedSignals() {
  sigset_t set;
  sigemptyset(&set);
  for (const int signal : kTerminatingSignals) AddUnlessIgnored(set, signal);
  for (int signal = SIGRTMIN; signal <= SIGRTMAX; ++signal) AddUnlessIgnored(set, signal);
  return set;
}

SignalWatcher::SignalWatcher(std::function<void(int)> onSignal) : onSignal_(std::move(onSignal)) {
  const sigset_t watched = WatchedSignals();
  pthread_sigmask(SIG_BLOCK, &watched, &previousMask_);
  signalFd_ = signalfd(-1, &watched, SFD_CLOEXEC);
  if (signalFd_ < 0 || pipe2(quit_, O_CLOEXEC) != 0) {
    pthread_sigmask(SIG_SETMASK, &previousMask_, nullptr);
    throw std::runtime_error("cannot watch for signals");
  }
  thread_ = std::thread([this] { Watch(); });
}

SignalWatcher::~SignalWatcher() {
  const char quit = 'q';
  [[maybe_unused]] const ssize_t written = write(quit_[1], &quit, 1);
  thread_.join();
  for (int fd : {signalFd_, quit_[0], quit_[1]}) close(fd);
  pthread_sigmask(SIG_SETMASK, &previousMask_, nullptr);
}

void SignalWatcher::Watch() {
  for (;;) {
    pollfd fds[2] = {{signalFd_, POLLIN, 0}, {quit_[0], POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[1].revents != 0) return;
    signalfd_siginfo info{};
    if (read(signalFd_, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
      onSignal_(static_cast<int>(info.ssi_signo));
    }
  }
}

}  // namespace kestal::cli

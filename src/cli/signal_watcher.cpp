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

sigset_t WatchedSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  return set;
}

}  // namespace

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

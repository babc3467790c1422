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

SignalWatcher::SignalWatcher(std::function<void(int)> onSignal) : m_onSignal(std::move(onSignal)) {
  const sigset_t watched = WatchedSignals();
  pthread_sigmask(SIG_BLOCK, &watched, &m_previousMask);
  m_signalFd = signalfd(-1, &watched, SFD_CLOEXEC);
  if (m_signalFd < 0 || pipe2(m_quit, O_CLOEXEC) != 0) {
    pthread_sigmask(SIG_SETMASK, &m_previousMask, nullptr);
    throw std::runtime_error("cannot watch for signals");
  }
  m_thread = std::thread([this] { Watch(); });
}

SignalWatcher::~SignalWatcher() {
  const char quit = 'q';
  [[maybe_unused]] const ssize_t written = write(m_quit[1], &quit, 1);
  m_thread.join();
  for (int fd : {m_signalFd, m_quit[0], m_quit[1]}) close(fd);
  pthread_sigmask(SIG_SETMASK, &m_previousMask, nullptr);
}

void SignalWatcher::Watch() {
  for (;;) {
    pollfd fds[2] = {{m_signalFd, POLLIN, 0}, {m_quit[0], POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[1].revents != 0) return;
    signalfd_siginfo info{};
    if (read(m_signalFd, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
      m_onSignal(static_cast<int>(info.ssi_signo));
    }
  }
}

}  // namespace kestal::cli

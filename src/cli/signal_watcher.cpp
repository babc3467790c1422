#include "cli/signal_watcher.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <stdexcept>

namespace kestal::cli {
namespace {

constexpr unsigned char kQuitByte = 0;
constexpr int kWatched[] = {SIGINT, SIGTERM};

std::atomic<int> g_writeFd{-1};
struct sigaction g_previous[2];

void OnSignal(int signal) {
  const int savedErrno = errno;
  const int fd = g_writeFd.load();
  const auto byte = static_cast<unsigned char>(signal);
  if (fd >= 0) {
    [[maybe_unused]] const ssize_t written = write(fd, &byte, 1);
  }
  errno = savedErrno;
}

}  // namespace

SignalWatcher::SignalWatcher(std::function<void(int)> onSignal) : m_onSignal(std::move(onSignal)) {
  if (pipe2(m_pipe, O_CLOEXEC) != 0) throw std::runtime_error("cannot create the signal pipe");
  g_writeFd.store(m_pipe[1]);
  m_thread = std::thread([this] { Watch(); });
  for (size_t i = 0; i < std::size(kWatched); ++i) {
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(kWatched[i], &action, &g_previous[i]);
  }
}

SignalWatcher::~SignalWatcher() {
  for (size_t i = 0; i < std::size(kWatched); ++i) sigaction(kWatched[i], &g_previous[i], nullptr);
  g_writeFd.store(-1);
  const unsigned char quit = kQuitByte;
  [[maybe_unused]] const ssize_t written = write(m_pipe[1], &quit, 1);
  m_thread.join();
  close(m_pipe[0]);
  close(m_pipe[1]);
}

void SignalWatcher::Watch() {
  for (;;) {
    unsigned char byte = 0;
    const ssize_t got = read(m_pipe[0], &byte, 1);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0 || byte == kQuitByte) return;
    m_onSignal(byte);
  }
}

}  // namespace kestal::cli

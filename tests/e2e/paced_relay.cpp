#include "e2e/paced_relay.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <climits>

namespace kestal::e2e {
namespace {

void MakeRaw(int fd) {
  termios tio{};
  if (tcgetattr(fd, &tio) == 0) {
    cfmakeraw(&tio);
    tcsetattr(fd, TCSANOW, &tio);
  }
}

bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t n = write(fd, data, size);
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

PacedRelay::PacedRelay(const std::string& simDevice, unsigned baud) : m_baud(baud) {
  char name[PATH_MAX] = {};
  if (openpty(&m_toolMaster, &m_toolSlave, name, nullptr, nullptr) != 0) return;
  MakeRaw(m_toolSlave);
  m_toolDevice = name;
  m_sim = open(simDevice.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (m_sim < 0 || pipe(m_stop) != 0) return;
  MakeRaw(m_sim);
  m_ok = true;
  m_thread = std::thread([this] { Run(); });
}

PacedRelay::~PacedRelay() {
  if (m_thread.joinable()) {
    const char quit = 'q';
    WriteAll(m_stop[1], &quit, 1);
    m_thread.join();
  }
  for (int fd : {m_toolMaster, m_toolSlave, m_sim, m_stop[0], m_stop[1]}) {
    if (fd >= 0) close(fd);
  }
}

void PacedRelay::Run() {
  using Clock = std::chrono::steady_clock;
  // Small pieces keep the pace even; 10 bit times per byte (8N1).
  constexpr size_t kPiece = 64;
  const auto byteTime = std::chrono::nanoseconds(10'000'000'000LL / m_baud);
  auto lineFree = Clock::now();
  char buffer[kPiece];
  for (;;) {
    pollfd fds[3] = {{m_toolMaster, POLLIN, 0}, {m_sim, POLLIN, 0}, {m_stop[0], POLLIN, 0}};
    if (poll(fds, 3, -1) < 0) continue;
    if (fds[2].revents != 0) return;
    if (fds[0].revents & POLLIN) {
      const ssize_t n = read(m_toolMaster, buffer, sizeof buffer);
      if (n > 0) {
        lineFree = std::max(lineFree, Clock::now()) + byteTime * n;
        std::this_thread::sleep_until(lineFree);
        if (!WriteAll(m_sim, buffer, static_cast<size_t>(n))) return;
      }
    }
    if (fds[1].revents & POLLIN) {
      char reply[4096];
      const ssize_t n = read(m_sim, reply, sizeof reply);
      if (n > 0) WriteAll(m_toolMaster, reply, static_cast<size_t>(n));
    }
    if ((fds[1].revents & (POLLHUP | POLLERR)) && !(fds[1].revents & POLLIN)) return;
  }
}

}  // namespace kestal::e2e

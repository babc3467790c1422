#include "sim/paced_line.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/prctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>

namespace kestal::sim {
namespace {

using Clock = std::chrono::steady_clock;

void MakeRaw(int fd) {
  termios tio{};
  if (::tcgetattr(fd, &tio) == 0) {
    ::cfmakeraw(&tio);
    ::tcsetattr(fd, TCSANOW, &tio);
  }
}

bool WriteAll(int fd, const uint8_t* data, size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

// Waits until `fd` is readable (true) or the stop pipe is (false).
bool WaitReadable(int fd, int stop) {
  for (;;) {
    pollfd fds[2] = {{fd, POLLIN, 0}, {stop, POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) continue;
    if (fds[1].revents != 0) return false;
    if (fds[0].revents & POLLIN) return true;
    if (fds[0].revents & (POLLHUP | POLLERR)) {
      // No reader on the other side yet (or any more): look again shortly.
      pollfd stopOnly{stop, POLLIN, 0};
      if (::poll(&stopOnly, 1, 5) > 0) return false;
    }
  }
}

}  // namespace

PacedLine::PacedLine(const std::string& simDevice, unsigned baud) : m_baud(baud) {
  char name[PATH_MAX] = {};
  if (::openpty(&m_toolMaster, &m_toolSlave, name, nullptr, nullptr) != 0) return;
  MakeRaw(m_toolSlave);
  m_toolDevice = name;
  m_sim = ::open(simDevice.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (m_sim < 0 || ::pipe2(m_stop, O_CLOEXEC) != 0) return;
  MakeRaw(m_sim);
  m_ok = true;
  m_toSim = std::thread([this] { ToolToSim(); });
  m_toTool = std::thread([this] { SimToTool(); });
}

PacedLine::~PacedLine() {
  if (m_ok) {
    const uint8_t quit = 'q';
    WriteAll(m_stop[1], &quit, 1);
    m_toSim.join();
    m_toTool.join();
  }
  for (int fd : {m_toolMaster, m_toolSlave, m_sim, m_stop[0], m_stop[1]}) {
    if (fd >= 0) ::close(fd);
  }
}

// Pieces of about a millisecond of line time. A piece that follows the previous one within the
// slack continues the stream from where the line stands, so the thread's own wake-up delays
// never add up to line time; after a longer pause (any pause between frames is) the line starts
// afresh, so no credit is banked.
void PacedLine::ToolToSim() {
  ::prctl(PR_SET_TIMERSLACK, 1UL);  // wake on time, not up to 50 us late
  const size_t piece = std::max<size_t>(1, m_baud / 10 / 1000);
  const auto byteTime = std::chrono::nanoseconds(10'000'000'000LL / m_baud);
  constexpr auto kSlack = std::chrono::microseconds(100);  // as kestal-sim's pacer
  Clock::time_point lineFree{};
  bool backlog = false;  // more bytes were already waiting when the last piece went out
  uint8_t buffer[64];
  while (WaitReadable(m_toolMaster, m_stop[0])) {
    const ssize_t n = ::read(m_toolMaster, buffer, std::min(piece, sizeof buffer));
    if (n <= 0) continue;
    const auto now = Clock::now();
    // Bytes that were waiting continue the stream however late this thread woke; others
    // start the line afresh when they came.
    if (!backlog && now > lineFree + kSlack) lineFree = now;
    lineFree += byteTime * n;
    std::this_thread::sleep_until(lineFree);
    if (!WriteAll(m_sim, buffer, static_cast<size_t>(n))) return;
    pollfd pending{m_toolMaster, POLLIN, 0};
    backlog = ::poll(&pending, 1, 0) > 0 && (pending.revents & POLLIN) != 0;
  }
}

void PacedLine::SimToTool() {
  uint8_t buffer[4096];
  while (WaitReadable(m_sim, m_stop[0])) {
    const ssize_t n = ::read(m_sim, buffer, sizeof buffer);
    if (n > 0 && !WriteAll(m_toolMaster, buffer, static_cast<size_t>(n))) return;
  }
}

}  // namespace kestal::sim

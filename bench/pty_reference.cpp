#include "bench/pty_reference.h"

#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <thread>
#include <vector>

namespace kestal::bench {
namespace {

void MakeRaw(int fd) {
  termios tio{};
  ::tcgetattr(fd, &tio);
  ::cfmakeraw(&tio);
  ::tcsetattr(fd, TCSANOW, &tio);
}

}  // namespace

double RawPtyMBps(size_t bytes, size_t writeSize) {
  int master = -1, slave = -1;
  if (::openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) return 0;
  MakeRaw(master);
  MakeRaw(slave);
  const auto start = std::chrono::steady_clock::now();
  std::thread writer([&] {
    const std::vector<char> block(writeSize, 'k');
    for (size_t done = 0; done < bytes;) {
      const ssize_t n = ::write(slave, block.data(), std::min(writeSize, bytes - done));
      if (n <= 0) return;
      done += static_cast<size_t>(n);
    }
  });
  std::vector<char> buffer(65536);
  size_t received = 0;
  while (received < bytes) {
    const ssize_t n = ::read(master, buffer.data(), buffer.size());
    if (n <= 0) break;
    received += static_cast<size_t>(n);
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  writer.join();
  ::close(master);
  ::close(slave);
  return received == bytes && seconds > 0 ? static_cast<double>(bytes) / 1e6 / seconds : 0;
}

}  // namespace kestal::bench

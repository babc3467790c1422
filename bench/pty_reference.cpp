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

bool ReadExactly(int fd, char* into, size_t size) {
  for (size_t got = 0; got < size;) {
    const ssize_t n = ::read(fd, into + got, size - got);
    if (n <= 0) return false;
    got += static_cast<size_t>(n);
  }
  return true;
}

bool WriteAll(int fd, const char* from, size_t size) {
  for (size_t done = 0; done < size;) {
    const ssize_t n = ::write(fd, from + done, size - done);
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
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
    for (size_t done = 0; done < bytes; done += writeSize) {
      if (!WriteAll(slave, block.data(), std::min(writeSize, bytes - done))) return;
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

double LockStepPtyMBps(size_t bytes, size_t blockSize) {
  constexpr size_t kRequestSize = 16;   // a block request frame
  constexpr size_t kFrameOverhead = 10;  // around a data frame's payload
  int master = -1, slave = -1;
  if (::openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) return 0;
  MakeRaw(master);
  MakeRaw(slave);
  const size_t blocks = (bytes + blockSize - 1) / blockSize;
  const auto start = std::chrono::steady_clock::now();
  std::thread answerer([&] {
    const std::vector<char> answer(blockSize + kFrameOverhead, 'k');
    char request[kRequestSize];
    for (size_t block = 0; block < blocks; ++block) {
      if (!ReadExactly(slave, request, sizeof request)) return;
      if (!WriteAll(slave, answer.data(), answer.size())) return;
    }
  });
  const std::vector<char> request(kRequestSize, 'r');
  std::vector<char> answer(blockSize + kFrameOverhead);
  size_t fetched = 0;
  while (fetched < blocks && WriteAll(master, request.data(), request.size()) &&
         ReadExactly(master, answer.data(), answer.size())) {
    ++fetched;
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  ::close(master);  // releases an answerer still waiting, should the exchange have failed
  answerer.join();
  ::close(slave);
  return fetched == blocks && seconds > 0 ? static_cast<double>(blocks * blockSize) / 1e6 / seconds
                                          : 0;
}

}  // namespace kestal::bench

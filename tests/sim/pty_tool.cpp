#include "pty_tool.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <thread>

#include "scripted_tool.h"

extern char** environ;

namespace kestal::sim::testing {

bool PtyTool::Open(const std::string& path) {
  m_fd = open(path.c_str(), O_RDWR | O_NOCTTY);
  if (m_fd < 0) return false;
  termios tio{};
  tcgetattr(m_fd, &tio);
  cfmakeraw(&tio);
  tcsetattr(m_fd, TCSANOW, &tio);
  return true;
}

void PtyTool::Close() {
  if (m_fd >= 0) close(m_fd);
  m_fd = -1;
}

void PtyTool::Write(const std::vector<uint8_t>& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(m_fd, bytes.data() + done, bytes.size() - done);
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

std::optional<kestal::testing::SentFrame> PtyTool::NextFrame(int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (m_frames.empty()) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return std::nullopt;
    pollfd pfd{m_fd, POLLIN, 0};
    if (poll(&pfd, 1, static_cast<int>(left.count())) <= 0) continue;
    uint8_t buffer[4096];
    const ssize_t n = read(m_fd, buffer, sizeof buffer);
    if (n <= 0) return std::nullopt;  // the emulator closed its end
    for (auto& f : m_splitter.Feed(buffer, static_cast<size_t>(n))) m_frames.push_back(f);
  }
  auto frame = m_frames.front();
  m_frames.pop_front();
  return frame;
}

bool SimProcess::Start(const std::vector<std::string>& args) {
  const char* binDir = std::getenv("KESTAL_BIN_DIR");
  if (binDir == nullptr) return false;
  const std::string program = std::string(binDir) + "/src/sim/kestal-sim";
  m_stderrPath = ScratchPath("sim-stderr.txt");

  int out[2];
  if (pipe(out) != 0) return false;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, m_stderrPath.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0600);
  std::vector<char*> argv{const_cast<char*>(program.c_str())};
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const int spawned = posix_spawn(&m_pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  if (spawned != 0) {
    m_pid = -1;
    close(out[0]);
    return false;
  }
  // The first line is the device path.
  char c = 0;
  pollfd pfd{out[0], POLLIN, 0};
  while (poll(&pfd, 1, 5000) > 0 && read(out[0], &c, 1) == 1 && c != '\n') m_devicePath += c;
  close(out[0]);
  return !m_devicePath.empty() && c == '\n';
}

int SimProcess::Wait(int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (m_pid > 0) {
    int status = 0;
    if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
      m_pid = -1;
      return status;
    }
    if (std::chrono::steady_clock::now() >= deadline) return -1;
    // Polling a child's end: there is no descriptor to wait on without a signal handler.
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return -1;
}

SimProcess::~SimProcess() {
  if (m_pid > 0) {
    kill(m_pid, SIGKILL);
    waitpid(m_pid, nullptr, 0);
  }
}

std::string SimProcess::Stderr() const {
  std::ifstream in(m_stderrPath);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace kestal::sim::testing

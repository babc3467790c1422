#include "e2e/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <stdexcept>

extern char** environ;

namespace kestal::e2e {
namespace {

std::string BinDir() {
  const char* root = std::getenv("KESTAL_BIN_DIR");
  if (root == nullptr) throw std::runtime_error("KESTAL_BIN_DIR is not set");
  return root;
}

double Seconds(const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; }

}  // namespace

std::string SimPath() { return BinDir() + "/src/sim/kestal-sim"; }
std::string CliPath() { return BinDir() + "/src/cli/kestal-cli"; }

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& args,
                           ChildSetup setup) {
  std::vector<std::string> storage{program};
  storage.insert(storage.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : storage) argv.push_back(a.data());
  argv.push_back(nullptr);

  int outPipe[2], errPipe[2];
  if (pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0) {
    throw std::runtime_error("pipe failed");
  }
  m_pid = fork();
  if (m_pid == 0) {
    // Child: only async-signal-safe calls until exec.
    const int devNull = open("/dev/null", O_RDONLY);
    dup2(devNull, 0);
    dup2(outPipe[1], 1);
    dup2(errPipe[1], 2);
    const rlimit limit{setup.fileSizeLimit, setup.fileSizeLimit};
    setrlimit(RLIMIT_FSIZE, &limit);
    // A write beyond the limit must fail with EFBIG rather than kill the program.
    signal(SIGXFSZ, SIG_IGN);
    signal(SIGINT, SIG_DFL);
    signal(SIGTERM, SIG_DFL);
    execve(program.c_str(), argv.data(), environ);
    _exit(127);
  }
  close(outPipe[1]);
  close(errPipe[1]);
  if (m_pid < 0) throw std::runtime_error("fork failed");
  m_pidfd = static_cast<int>(syscall(SYS_pidfd_open, m_pid, 0));
  m_out.fd = outPipe[0];
  m_err.fd = errPipe[0];
  m_out.reader = std::thread([this] { ReadLines(m_out); });
  m_err.reader = std::thread([this] { ReadLines(m_err); });
}

ChildProcess::~ChildProcess() {
  if (!m_exit) {
    // SIGTERM first: the emulator then withdraws its virtual port, which SIGKILL would leave
    // behind. Wait kills what does not end in time.
    kill(m_pid, SIGTERM);
    Wait(std::chrono::seconds(2));
  }
  m_out.reader.join();
  m_err.reader.join();
  close(m_out.fd);
  close(m_err.fd);
  if (m_pidfd >= 0) close(m_pidfd);
}

void ChildProcess::Signal(int signal) {
  if (!m_exit) kill(m_pid, signal);
}

void ChildProcess::ReadLines(Stream& stream) {
  std::string pending;
  char buffer[4096];
  for (;;) {
    const ssize_t n = read(stream.fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    const auto now = std::chrono::steady_clock::now();
    pending.append(buffer, static_cast<size_t>(n));
    std::lock_guard lock(m_mutex);
    for (size_t end; (end = pending.find('\n')) != std::string::npos;) {
      stream.lines.push_back({now, pending.substr(0, end)});
      pending.erase(0, end + 1);
    }
    m_lineArrived.notify_all();
  }
  std::lock_guard lock(m_mutex);
  if (!pending.empty()) stream.lines.push_back({std::chrono::steady_clock::now(), pending});
  stream.ended = true;
  m_lineArrived.notify_all();
}

std::string ChildProcess::FirstStdoutLine(std::chrono::milliseconds timeout) {
  std::unique_lock lock(m_mutex);
  m_lineArrived.wait_for(lock, timeout, [&] { return !m_out.lines.empty(); });
  return m_out.lines.empty() ? std::string() : m_out.lines.front().text;
}

std::optional<TimedLine> ChildProcess::WaitForStderrLine(const std::string& text,
                                                         std::chrono::milliseconds timeout,
                                                         bool partial) {
  std::unique_lock lock(m_mutex);
  std::optional<TimedLine> found;
  m_lineArrived.wait_for(lock, timeout, [&] {
    for (const auto& line : m_err.lines) {
      if (partial ? line.text.find(text) != std::string::npos : line.text == text) {
        found = line;
        return true;
      }
    }
    return false;
  });
  return found;
}

std::vector<TimedLine> ChildProcess::StderrLines() {
  std::lock_guard lock(m_mutex);
  return m_err.lines;
}

std::vector<std::string> ChildProcess::StderrTexts() {
  std::vector<std::string> texts;
  for (const auto& line : StderrLines()) texts.push_back(line.text);
  return texts;
}

std::string ChildProcess::StderrJoined() {
  std::string all;
  for (const auto& line : StderrLines()) all += line.text + "\n";
  return all;
}

std::string ChildProcess::StdoutJoined() {
  std::lock_guard lock(m_mutex);
  std::string all;
  for (const auto& line : m_out.lines) all += line.text + "\n";
  return all;
}

ChildExit ChildProcess::Wait(std::chrono::milliseconds timeout) {
  if (m_exit) return *m_exit;
  if (m_pidfd >= 0) {
    pollfd pfd{m_pidfd, POLLIN, 0};
    int ready;
    do {
      ready = poll(&pfd, 1, static_cast<int>(timeout.count()));
    } while (ready < 0 && errno == EINTR);
    if (ready == 0) {
      kill(m_pid, SIGKILL);
      Reap(0);
      m_exit->code = -1;
      return *m_exit;
    }
  }
  Reap(0);
  // The last lines may still be in the pipes when the exit is collected; a caller reading them
  // next must see them all.
  std::unique_lock lock(m_mutex);
  m_lineArrived.wait_for(lock, std::chrono::seconds(2), [this] { return m_out.ended && m_err.ended; });
  return *m_exit;
}

void ChildProcess::Reap(int options) {
  int status = 0;
  rusage usage{};
  pid_t got;
  do {
    got = wait4(m_pid, &status, options, &usage);
  } while (got < 0 && errno == EINTR);
  ChildExit exit;
  exit.at = std::chrono::steady_clock::now();
  exit.cpuSeconds = Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
  exit.peakResidentKiB = usage.ru_maxrss;
  if (WIFEXITED(status)) {
    exit.code = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    exit.code = 128 + WTERMSIG(status);
  }
  m_exit = exit;
}

}  // namespace kestal::e2e

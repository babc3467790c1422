#include "bench/child.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>

extern char** environ;

namespace kestal::bench {
namespace {

// This process's environment with `extra` laid over it, as execve wants it.
std::vector<std::string> MergedEnvironment(const std::vector<std::string>& extra) {
  std::map<std::string, std::string> byName;
  auto add = [&byName](const std::string& entry) {
    byName[entry.substr(0, entry.find('='))] = entry;
  };
  for (char** e = environ; *e != nullptr; ++e) add(*e);
  for (const std::string& entry : extra) add(entry);
  std::vector<std::string> merged;
  for (auto& [name, entry] : byName) merged.push_back(entry);
  return merged;
}

std::vector<char*> Pointers(std::vector<std::string>& strings) {
  std::vector<char*> pointers;
  for (std::string& s : strings) pointers.push_back(s.data());
  pointers.push_back(nullptr);
  return pointers;
}

}  // namespace

double SecondsSince(SteadyTime from) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - from).count();
}

Child::Child(const std::vector<std::string>& argv, const std::vector<std::string>& env,
             const std::string& stderrPath) {
  // Everything execve needs is built before fork: the child may only make async-signal-safe
  // calls, since the benchmark runs threads of its own.
  std::vector<std::string> args = argv;
  std::vector<std::string> envStrings = MergedEnvironment(env);
  std::vector<char*> argp = Pointers(args);
  std::vector<char*> envp = Pointers(envStrings);
  const int errFd = ::open(stderrPath.empty() ? "/dev/null" : stderrPath.c_str(),
                           O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  int out[2] = {-1, -1};
  if (errFd < 0 || ::pipe2(out, O_CLOEXEC) != 0) {
    if (errFd >= 0) ::close(errFd);
    return;
  }
  m_startedAt = std::chrono::steady_clock::now();
  m_pid = ::fork();
  if (m_pid == 0) {
    ::dup2(out[1], STDOUT_FILENO);
    ::dup2(errFd, STDERR_FILENO);
    const int in = ::open("/dev/null", O_RDONLY);
    if (in >= 0) ::dup2(in, STDIN_FILENO);
    ::execve(argp[0], argp.data(), envp.data());
    ::_exit(127);
  }
  ::close(out[1]);
  ::close(errFd);
  m_stdout = out[0];
}

Child::~Child() {
  if (m_pid > 0 && !m_reaped) {
    ::kill(m_pid, SIGKILL);
    Wait(std::chrono::seconds(5));
  }
  if (m_stdout >= 0) ::close(m_stdout);
}

std::string Child::FirstLine(std::chrono::milliseconds timeout) {
  const auto until = std::chrono::steady_clock::now() + timeout;
  std::string line;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        until - std::chrono::steady_clock::now());
    if (m_stdout < 0 || left.count() <= 0) return {};
    pollfd pfd{m_stdout, POLLIN, 0};
    if (::poll(&pfd, 1, static_cast<int>(left.count())) <= 0) continue;
    char c = 0;
    if (::read(m_stdout, &c, 1) != 1) return {};
    if (c == '\n') return line;
    line += c;
  }
}

ChildUsage Child::Wait(std::chrono::seconds timeout) {
  if (m_pid <= 0 || m_reaped) return m_usage;
  const auto until = std::chrono::steady_clock::now() + timeout;
  int status = 0;
  rusage usage{};
  for (;;) {
    const pid_t done = ::wait4(m_pid, &status, WNOHANG, &usage);
    if (done == m_pid) break;
    if (done < 0 && errno != EINTR) return m_usage;
    if (std::chrono::steady_clock::now() >= until) ::kill(m_pid, SIGKILL);
    // Polled at 1 ms: the benchmark's own figures never depend on this loop's timing, only
    // the wall time does, to within that millisecond.
    ::usleep(1000);
  }
  m_reaped = true;
  m_usage.wallSeconds = SecondsSince(m_startedAt);
  m_usage.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  auto seconds = [](timeval tv) { return static_cast<double>(tv.tv_sec) + static_cast<double>(tv.tv_usec) / 1e6; };
  m_usage.cpuSeconds = seconds(usage.ru_utime) + seconds(usage.ru_stime);
  m_usage.peakRssKb = usage.ru_maxrss;
  return m_usage;
}

}  // namespace kestal::bench

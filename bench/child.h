#pragma once
// A program the benchmark runs: started with extra environment, its first stdout line read on
// request, and its end collected with the resources it used (wait4's rusage).
#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace kestal::bench {

using SteadyTime = std::chrono::steady_clock::time_point;

struct ChildUsage {
  int status = -1;          // exit status, 128 + signal, -1 when it was not started
  double wallSeconds = 0;   // from just before the start to the end
  double cpuSeconds = 0;    // user + system time of the process itself
  long peakRssKb = 0;       // ru_maxrss
};

class Child {
 public:
  // `env` entries "NAME=value" are added to (or replace in) this process's environment.
  // stdout goes to a pipe (FirstLine), stderr to `stderrPath` (or /dev/null when empty).
  Child(const std::vector<std::string>& argv, const std::vector<std::string>& env = {},
        const std::string& stderrPath = {});
  ~Child();
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  bool Started() const { return m_pid > 0; }
  SteadyTime StartedAt() const { return m_startedAt; }
  // The first line the program writes on stdout; empty after `timeout` or at its end.
  std::string FirstLine(std::chrono::milliseconds timeout);
  // Waits for the end; a child still running after `timeout` is killed.
  ChildUsage Wait(std::chrono::seconds timeout);

 private:
  pid_t m_pid = -1;
  int m_stdout = -1;
  SteadyTime m_startedAt{};
  bool m_reaped = false;
  ChildUsage m_usage;
};

// Seconds since `from`.
double SecondsSince(SteadyTime from);

}  // namespace kestal::bench

#pragma once
// A program the bench runs and measures: started with posix_spawn, stdout on a pipe, stderr
// into a log file, its end collected with the CPU time it used (wait4).
#include <sys/types.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

namespace kestal::bench {

using Clock = std::chrono::steady_clock;

struct Usage {
  int status = -1;         // exit status, 128 + signal; -1 when it never ran
  double wallSeconds = 0;  // from just before the start to the end
  double cpuSeconds = 0;   // user + system time of the process itself
};

class Process {
 public:
  // Runs argv[0] (a path) in this process's environment; its stdout goes to `outPath` when one
  // is given (ReadLine then reads nothing).
  Process(std::vector<std::string> argv, const std::string& logPath,
          const std::string& outPath = {});
  ~Process();
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  // The next line on stdout, without its newline; empty at the end of the output.
  std::string ReadLine();
  void Signal(int signal);
  // Whether it has ended (collected then); does not wait.
  bool Ended();
  // Waits for the end; a program still running after `timeoutSeconds` is killed.
  Usage Wait(int timeoutSeconds);

 private:
  pid_t pid_ = -1;
  std::FILE* stdout_ = nullptr;
  Clock::time_point started_;
  Usage usage_;
};

}  // namespace kestal::bench

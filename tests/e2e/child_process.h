#pragma once
// A program run by a test: kestal-sim or kestal-cli. Its stdout and stderr are read
// line by line as they come, each line stamped with the moment it arrived, and its end is
// collected with the CPU time it used.
#include <sys/resource.h>
#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace kestal::e2e {

using SteadyTime = std::chrono::steady_clock::time_point;

struct TimedLine {
  SteadyTime at;
  std::string text;
};

struct ChildExit {
  int code = -1;            // exit status, or 128 + signal number
  double cpuSeconds = 0;    // user + system time of the child
  long peakResidentKiB = 0; // counts the parent's memory at the fork too
  SteadyTime at{};
};

struct ChildSetup {
  rlim_t fileSizeLimit = RLIM_INFINITY;  // RLIMIT_FSIZE; writes beyond it fail with EFBIG
};

// $KESTAL_BIN_DIR/src/sim/kestal-sim and $KESTAL_BIN_DIR/src/cli/kestal-cli.
std::string SimPath();
std::string CliPath();

class ChildProcess {
 public:
  ChildProcess(const std::string& program, const std::vector<std::string>& args,
               ChildSetup setup = {});
  // Ends a child still running (SIGTERM, then SIGKILL after two seconds) and reaps it.
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  void Signal(int signal);

  // The first stdout line, waiting up to `timeout`; empty when none came.
  std::string FirstStdoutLine(std::chrono::milliseconds timeout);
  // Waits until a stderr line equal to `text` (or containing it, when `partial`) came.
  std::optional<TimedLine> WaitForStderrLine(const std::string& text,
                                             std::chrono::milliseconds timeout,
                                             bool partial = false);
  std::vector<TimedLine> StderrLines();
  std::vector<std::string> StderrTexts();
  std::string StderrJoined();
  std::string StdoutJoined();

  // Waits for the end (at most `timeout`; then the child is killed and the code is -1).
  ChildExit Wait(std::chrono::milliseconds timeout = std::chrono::seconds(60));

 private:
  struct Stream {
    int fd = -1;
    std::vector<TimedLine> lines;
    bool ended = false;  // the pipe reached its end: every line is in `lines`
    std::thread reader;
  };
  void ReadLines(Stream& stream);
  void Reap(int options);

  pid_t m_pid = -1;
  int m_pidfd = -1;
  std::optional<ChildExit> m_exit;
  std::mutex m_mutex;
  std::condition_variable m_lineArrived;
  Stream m_out;
  Stream m_err;
};

}  // namespace kestal::e2e

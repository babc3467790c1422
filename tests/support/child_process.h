#pragma once
// A program run by a test. Its stdout and stderr go to anonymous in-memory files instead of
// pipes, so a chatty child never blocks on a full pipe and no reader threads are needed: the
// test looks at what was written whenever it asks.
#include <sys/resource.h>
#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace kestal::testing {

using namespace std::chrono_literals;

enum class Stream { Out, Err };

struct ChildOptions {
  std::vector<std::string> environment = {};  // "NAME=value", added to or replacing the test's own
  rlim_t fileSizeLimit = RLIM_INFINITY;       // RLIMIT_FSIZE: a write beyond it fails with EFBIG
  std::string workingDir = {};                // empty: the test's own
};

class ChildProcess {
 public:
  ChildProcess(const std::string& program, const std::vector<std::string>& args,
               const ChildOptions& options = {});
  // A child still running is killed and reaped: a failed test leaves nothing behind.
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  void Signal(int signal);
  // Waits for a whole line containing `text`; false when the child ended or `timeout` passed.
  bool WaitForLine(Stream stream, const std::string& text, std::chrono::milliseconds timeout);
  // The exit status, 128 + the signal that ended it, or -1 when it still ran after `timeout`
  // (it is killed then: the timeout only guards against a hang).
  int Wait(std::chrono::milliseconds timeout = 30s);

  std::string Output(Stream stream) const;
  std::vector<std::string> Lines(Stream stream) const;

 private:
  bool Ended();

  pid_t pid_ = -1;
  int out_ = -1;
  int err_ = -1;
  std::optional<int> status_;
};

}  // namespace kestal::testing

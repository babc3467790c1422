#include "bench/lrzsz_reference.h"

#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <vector>

namespace kestal::bench {
namespace {

// Runs argv with stdin and stdout on `fd`, in `dir`; stderr is dropped.
pid_t Spawn(const std::vector<const char*>& argv, int fd, const std::string& dir) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(fd, STDIN_FILENO);
    ::dup2(fd, STDOUT_FILENO);
    const int null = ::open("/dev/null", O_WRONLY);
    if (null >= 0) ::dup2(null, STDERR_FILENO);
    if (!dir.empty() && ::chdir(dir.c_str()) != 0) ::_exit(126);
    ::execvp(argv[0], const_cast<char* const*>(argv.data()));
    ::_exit(127);
  }
  return pid;
}

bool Reap(pid_t pid, std::chrono::steady_clock::time_point until, double& cpu) {
  int status = 0;
  rusage usage{};
  for (;;) {
    const pid_t done = ::wait4(pid, &status, WNOHANG, &usage);
    if (done == pid) break;
    if (done < 0) return false;
    if (std::chrono::steady_clock::now() > until) ::kill(pid, SIGKILL);
    ::usleep(1000);
  }
  cpu += static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

LrzszResult RunLrzsz(const std::string& file, const std::string& receiveDir, bool senderOnSlave,
                     int timeoutSeconds) {
  LrzszResult result;
  // A copy left by an earlier run would let rz skip or resume instead of receiving it all.
  const size_t slash = file.rfind('/');
  ::unlink((receiveDir + "/" + (slash == std::string::npos ? file : file.substr(slash + 1))).c_str());
  int master = -1, slave = -1;
  if (::openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) return result;
  termios tio{};
  ::tcgetattr(slave, &tio);
  ::cfmakeraw(&tio);
  ::tcsetattr(slave, TCSANOW, &tio);
  const auto start = std::chrono::steady_clock::now();
  // -y: overwrite; -q: quiet. Both binary by default.
  const pid_t rz = Spawn({"rz", "-y", "-q", nullptr}, senderOnSlave ? master : slave, receiveDir);
  const pid_t sz = Spawn({"sz", "-q", file.c_str(), nullptr}, senderOnSlave ? slave : master, {});
  ::close(master);
  ::close(slave);
  const auto until = start + std::chrono::seconds(timeoutSeconds);
  const bool szOk = Reap(sz, until, result.cpuSeconds);
  const bool rzOk = Reap(rz, until, result.cpuSeconds);
  result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  result.ok = szOk && rzOk;
  return result;
}

LrzszResult FastestRun(const std::vector<LrzszResult>& runs) {
  LrzszResult best;
  for (const LrzszResult& run : runs) {
    if (run.ok && (!best.ok || run.seconds < best.seconds)) best = run;
  }
  return best;
}

}  // namespace kestal::bench

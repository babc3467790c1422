#include "bench/process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

extern char** environ;

namespace kestal::bench {

Process::Process(std::vector<std::string> argv, const std::string& logPath,
                 const std::string& outPath) {
  std::vector<char*> argp;
  for (std::string& arg : argv) argp.push_back(arg.data());
  argp.push_back(nullptr);
  int out[2] = {-1, -1};
  if (::pipe2(out, O_CLOEXEC) != 0) return;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  if (outPath.empty()) {
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  } else {
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outPath.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
  }
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, logPath.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  started_ = Clock::now();
  if (::posix_spawn(&pid_, argp[0], &actions, nullptr, argp.data(), environ) != 0) pid_ = -1;
  posix_spawn_file_actions_destroy(&actions);
  ::close(out[1]);
  stdout_ = ::fdopen(out[0], "r");
}

Process::~Process() {
  if (pid_ > 0) ::kill(pid_, SIGKILL);
  Wait(5);
  if (stdout_ != nullptr) std::fclose(stdout_);
}

void Process::Signal(int signal) {
  if (pid_ > 0) ::kill(pid_, signal);
}

std::string Process::ReadLine() {
  char line[4096];
  if (stdout_ == nullptr || std::fgets(line, sizeof line, stdout_) == nullptr) return {};
  return std::string(line, std::strcspn(line, "\n"));
}

bool Process::Ended() {
  int status = 0;
  rusage usage{};
  if (pid_ <= 0 || ::wait4(pid_, &status, WNOHANG, &usage) != pid_) return pid_ <= 0;
  pid_ = -1;
  const auto seconds = [](timeval tv) { return static_cast<double>(tv.tv_sec) + tv.tv_usec / 1e6; };
  usage_ = {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status),
            std::chrono::duration<double>(Clock::now() - started_).count(),
            seconds(usage.ru_utime) + seconds(usage.ru_stime)};
  return true;
}

Usage Process::Wait(int timeoutSeconds) {
  const auto until = Clock::now() + std::chrono::seconds(timeoutSeconds);
  while (!Ended()) {
    if (Clock::now() >= until) ::kill(pid_, SIGKILL);
    // The wall time is good to these 2 ms; the programs' own figures do not depend on it.
    ::usleep(2000);
  }
  return usage_;
}

}  // namespace kestal::bench

#include "support/child_process.h"

#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace kestal::testing {
namespace {

constexpr auto kPollPeriod = 5ms;

std::vector<std::string> MergedEnvironment(const std::vector<std::string>& overrides) {
  std::vector<std::string> merged(overrides);
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string text = *entry;
    const std::string name = text.substr(0, text.find('=') + 1);
    bool replaced = false;
    for (const auto& item : overrides) replaced = replaced || item.rfind(name, 0) == 0;
    if (!replaced) merged.push_back(text);
  }
  return merged;
}

std::vector<char*> PointersTo(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (auto& text : texts) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

// Runs in the forked child: only async-signal-safe calls until exec.
[[noreturn]] void ExecChild(int out, int err, const ChildOptions& options, char* const* argv,
                            char* const* envp) {
  dup2(out, STDOUT_FILENO);
  dup2(err, STDERR_FILENO);
  if (!options.workingDir.empty() && chdir(options.workingDir.c_str()) != 0) _exit(127);
  if (const rlim_t fileSizeLimit = options.fileSizeLimit; fileSizeLimit != RLIM_INFINITY) {
    const rlimit limit{fileSizeLimit, fileSizeLimit};
    setrlimit(RLIMIT_FSIZE, &limit);
    signal(SIGXFSZ, SIG_IGN);  // the write fails with EFBIG instead of killing the child
  }
  execve(argv[0], argv, envp);
  _exit(127);
}

}  // namespace

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& args,
                           const ChildOptions& options) {
  std::vector<std::string> argvTexts{program};
  argvTexts.insert(argvTexts.end(), args.begin(), args.end());
  std::vector<std::string> envTexts = MergedEnvironment(options.environment);
  const std::vector<char*> argv = PointersTo(argvTexts);
  const std::vector<char*> envp = PointersTo(envTexts);
  out_ = memfd_create("stdout", MFD_CLOEXEC);
  err_ = memfd_create("stderr", MFD_CLOEXEC);
  if (out_ < 0 || err_ < 0) throw std::runtime_error("memfd_create failed");
  pid_ = fork();
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) ExecChild(out_, err_, options, argv.data(), envp.data());
}

ChildProcess::~ChildProcess() {
  if (!Ended()) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  close(out_);
  close(err_);
}

void ChildProcess::Signal(int signal) {
  if (!Ended()) kill(pid_, signal);
}

bool ChildProcess::Ended() {
  int status = 0;
  if (!status_ && waitpid(pid_, &status, WNOHANG) == pid_) {
    status_ = WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
  }
  return status_.has_value();
}

bool ChildProcess::WaitForLine(Stream stream, const std::string& text,
                               std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    const bool ended = Ended();  // before reading, so the last lines are not missed
    for (const auto& line : Lines(stream)) {
      if (line.find(text) != std::string::npos) return true;
    }
    if (ended || std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(kPollPeriod);
  }
}

int ChildProcess::Wait(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!Ended() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(kPollPeriod);
  }
  if (Ended()) return *status_;
  kill(pid_, SIGKILL);
  waitpid(pid_, nullptr, 0);
  status_ = -1;
  return -1;
}

std::string ChildProcess::Output(Stream stream) const {
  const int fd = stream == Stream::Out ? out_ : err_;
  struct stat info {};
  fstat(fd, &info);
  std::string text(static_cast<size_t>(info.st_size), '\0');
  const ssize_t got = pread(fd, text.data(), text.size(), 0);
  text.resize(got > 0 ? static_cast<size_t>(got) : 0);
  return text;
}

// Only whole lines: a line still being written is not yet seen.
std::vector<std::string> ChildProcess::Lines(Stream stream) const {
  std::string text = Output(stream);
  text.erase(text.find_last_of('\n') == std::string::npos ? 0 : text.find_last_of('\n') + 1);
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

}  // namespace kestal::testing

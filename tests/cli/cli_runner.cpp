#include "cli/cli_runner.h"

#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <iterator>
#include <stdexcept>

extern char** environ;

namespace kestal::testing {
namespace {

std::string CliPath() {
  const char* root = std::getenv("KESTAL_BIN_DIR");
  if (root == nullptr) throw std::runtime_error("KESTAL_BIN_DIR is not set");
  return std::string(root) + "/src/cli/kestal-cli";
}

// A temporary file that the child writes one of its streams to.
class CaptureFile {
 public:
  CaptureFile() {
    m_path = "/tmp/kestal-cli-capture-XXXXXX";
    const int fd = ::mkstemp(m_path.data());
    if (fd < 0) throw std::runtime_error("mkstemp failed");
    ::close(fd);
  }
  ~CaptureFile() { ::unlink(m_path.c_str()); }
  CaptureFile(const CaptureFile&) = delete;
  CaptureFile& operator=(const CaptureFile&) = delete;

  const char* Path() const { return m_path.c_str(); }
  std::string Contents() const {
    std::ifstream in(m_path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }

 private:
  std::string m_path;
};

void WaitForExit(pid_t pid, CliRun& run) {
  int status = 0;
  rusage usage{};
  while (::wait4(pid, &status, 0, &usage) < 0) {
    if (errno != EINTR) throw std::runtime_error("waitpid failed");
  }
  run.peakResidentKiB = usage.ru_maxrss;
  if (WIFEXITED(status)) {
    run.exitCode = WEXITSTATUS(status);
  } else {
    run.exitCode = WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
  }
}

}  // namespace

CliRun RunCli(const std::vector<std::string>& args) {
  const std::string program = CliPath();
  std::vector<std::string> storage{program};
  storage.insert(storage.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : storage) argv.push_back(a.data());
  argv.push_back(nullptr);

  CaptureFile out, err;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, out.Path(), O_WRONLY | O_TRUNC, 0);
  posix_spawn_file_actions_addopen(&actions, 2, err.Path(), O_WRONLY | O_TRUNC, 0);
  pid_t pid = 0;
  const int spawned = ::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) throw std::runtime_error("cannot start " + program);

  CliRun run;
  WaitForExit(pid, run);
  run.out = out.Contents();
  run.err = err.Contents();
  return run;
}

}  // namespace kestal::testing

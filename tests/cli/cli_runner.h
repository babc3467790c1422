#pragma once
// Runs the real kestal-cli binary ($KESTAL_BIN_DIR/src/cli/kestal-cli) and collects what it
// printed and how it ended.
#include <string>
#include <vector>

namespace kestal::testing {

struct CliRun {
  int exitCode = -1;  // the exit status, or 128 + signal number when killed by a signal
  std::string out;
  std::string err;
  long peakResidentKiB = 0;  // the child's peak resident memory
};

// Arguments after the program name. Standard input is /dev/null.
CliRun RunCli(const std::vector<std::string>& args);

}  // namespace kestal::testing

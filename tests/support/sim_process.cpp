#include "support/sim_process.h"

#include <cstdlib>

namespace kestal::testing {
namespace {

std::string ProgramPath(const char* relative, const char* built) {
  const char* dir = std::getenv("KESTAL_BIN_DIR");
  return dir != nullptr && *dir != '\0' ? std::string(dir) + "/" + relative : built;
}

}  // namespace

std::string CliPath() { return ProgramPath("cli/kestal-cli", KESTAL_CLI_PATH); }
std::string SimPath() { return ProgramPath("sim/kestal-sim", KESTAL_SIM_PATH); }

Sim::Sim(const std::vector<std::string>& args) {
  std::vector<std::string> all{"--name", kSimPort};
  all.insert(all.end(), args.begin(), args.end());
  process_ = std::make_unique<ChildProcess>(SimPath(), all, ToolOptions());
  if (process_->WaitForLine(Stream::Out, "/", 10s)) device_ = process_->Lines(Stream::Out)[0];
}

ChildOptions Sim::ToolOptions() const {
  return ChildOptions{{"XDG_RUNTIME_DIR=" + runtimeDir_.Path().string()}};
}

}  // namespace kestal::testing

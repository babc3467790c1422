#include "support/sim_process.h"

#include <gtest/gtest.h>

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

ChildProcess& Desk::Add(const std::string& name, std::vector<std::string> args) {
  args.insert(args.begin(), {"--name", name});
  sims_.push_back(std::make_unique<ChildProcess>(SimPath(), args, Options()));
  EXPECT_TRUE(sims_.back()->WaitForLine(Stream::Out, "/", 10s)) << name;
  return *sims_.back();
}

void Desk::AddSilent(const std::string& name) {
  Add(name, {"--idle-before-request", "60000", "download", "--mode", "software", "--size", "9"});
}

}  // namespace kestal::testing

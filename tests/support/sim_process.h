#pragma once
// The programs under test, started as children: kestal-sim announcing a virtual port in a
// port directory of its own, so tests running side by side never see each other's ports.
#include <memory>
#include <string>
#include <vector>

#include "support/child_process.h"
#include "support/scratch_dir.h"

namespace kestal::testing {

// The name under which every Sim announces its port.
constexpr const char* kSimPort = "box";

// $KESTAL_BIN_DIR/cli/kestal-cli (and sim/kestal-sim) when KESTAL_BIN_DIR is set, else the
// programs of this build.
std::string CliPath();
std::string SimPath();

class Sim {
 public:
  // Starts kestal-sim with `args` and waits for the device path it prints first.
  explicit Sim(const std::vector<std::string>& args);

  // Empty when the emulator did not come up.
  const std::string& Device() const { return device_; }
  ChildProcess& Process() { return *process_; }
  // What a tool needs so that --port kSimPort finds this emulator.
  ChildOptions ToolOptions() const;

 private:
  ScratchDir runtimeDir_;  // outlives the process, which removes its port link on the way out
  std::unique_ptr<ChildProcess> process_;
  std::string device_;
};

// Emulators announcing their ports side by side in one port directory, as on a desk with
// several receivers; Sim keeps each in a directory of its own.
class Desk {
 public:
  ChildOptions Options() const { return {{"XDG_RUNTIME_DIR=" + dir_.Path().string()}}; }
  // An emulator announcing its port as `name`; the test fails if it does not come up.
  ChildProcess& Add(const std::string& name, std::vector<std::string> args);
  // A receiver that wakes up but never asks within a test's time.
  void AddSilent(const std::string& name);
  std::string File(const std::string& name) const { return dir_.File(name); }

 private:
  ScratchDir dir_;
  std::vector<std::unique_ptr<ChildProcess>> sims_;
};

}  // namespace kestal::testing

#pragma once
// The tool's side played by hand on a real pseudo-terminal: raw reads and writes on the slave
// device, and the emulator started as a process of its own.
#include <sys/types.h>

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "support/fake_link.h"

namespace kestal::sim::testing {

class PtyTool {
 public:
  // Opens the device raw; false when it cannot be opened.
  bool Open(const std::string& path);
  ~PtyTool() { Close(); }
  void Close();
  int Fd() const { return m_fd; }

  void Write(const std::vector<uint8_t>& bytes);
  // The next frame from the emulator within `timeoutMs`, or none.
  std::optional<kestal::testing::SentFrame> NextFrame(int timeoutMs);

 private:
  int m_fd = -1;
  kestal::testing::FrameSplitter m_splitter;
  std::deque<kestal::testing::SentFrame> m_frames;
};

class SimProcess {
 public:
  // Starts $KESTAL_BIN_DIR/src/sim/kestal-sim with `args` and reads the device path it prints.
  bool Start(const std::vector<std::string>& args);
  ~SimProcess();
  const std::string& DevicePath() const { return m_devicePath; }
  pid_t Pid() const { return m_pid; }
  // Waits for the process (at most `timeoutMs`); returns its wait status, -1 on time-out.
  int Wait(int timeoutMs);
  std::string Stderr() const;

 private:
  pid_t m_pid = -1;
  std::string m_devicePath;
  std::string m_stderrPath;
};

}  // namespace kestal::sim::testing

#pragma once
// A serial line of a given speed between the tool and the emulator: the tool opens the relay's
// own pseudo-terminal, and the relay forwards to the emulator's device, letting the tool's
// bytes through no faster than the line would. The tool's writes then block as on a real port.
#include <atomic>
#include <string>
#include <thread>

namespace kestal::e2e {

class PacedRelay {
 public:
  PacedRelay(const std::string& simDevice, unsigned baud);
  ~PacedRelay();
  PacedRelay(const PacedRelay&) = delete;
  PacedRelay& operator=(const PacedRelay&) = delete;

  // The device the tool opens.
  const std::string& ToolDevice() const { return m_toolDevice; }
  bool Ok() const { return m_ok; }

 private:
  void Run();

  unsigned m_baud;
  int m_toolMaster = -1;
  int m_toolSlave = -1;  // held so the master does not report a hang-up before the tool opens
  int m_sim = -1;
  int m_stop[2] = {-1, -1};
  std::string m_toolDevice;
  bool m_ok = false;
  std::thread m_thread;
};

}  // namespace kestal::e2e

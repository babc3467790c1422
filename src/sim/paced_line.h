#pragma once
// The tool's direction of a serial line at a given speed, for paced tests and measurements:
// the tool opens this line's own pseudo-terminal; what it writes reaches the emulator no faster
// than the line carries it, each piece handed over once its last stop bit would be through, so
// the tool's writes block as on a real port. The emulator paces its own direction
// (kestal-sim --baud), so its bytes pass straight through.
#include <string>
#include <thread>

namespace kestal::sim {

class PacedLine {
 public:
  PacedLine(const std::string& simDevice, unsigned baud);
  ~PacedLine();
  PacedLine(const PacedLine&) = delete;
  PacedLine& operator=(const PacedLine&) = delete;

  bool Ok() const { return m_ok; }
  const std::string& ToolDevice() const { return m_toolDevice; }

 private:
  void ToolToSim();
  void SimToTool();

  unsigned m_baud;
  int m_toolMaster = -1;
  int m_toolSlave = -1;  // held so the master reports no hang-up before the tool opens it
  int m_sim = -1;
  int m_stop[2] = {-1, -1};
  std::string m_toolDevice;
  bool m_ok = false;
  std::thread m_toSim;
  std::thread m_toTool;
};

}  // namespace kestal::sim

// Two hundred short transfers in a row, each ended at a random moment by the receiver's
// CMD_FINISH, the Stop button, the watchdog tripping or the window closing (the controller
// destroyed): no crash, and no thread, descriptor or memory left behind.
#include <gtest/gtest.h>

#include <iostream>
#include <random>

#include "e2e/e2e_support.h"
#include "e2e/fault_support.h"

namespace kestal::e2e {
namespace {

enum class Ending { kNone, kStop, kWatchdog, kClose };

struct Counts {
  int threads;
  int descriptors;
  size_t heap;
};

Counts Measure() { return {CountThreads(), CountOpenDescriptors(), HeapInUse()}; }

class Churn {
 public:
  explicit Churn(uint32_t seed) : m_random(seed) {
    m_download = m_dir.File("small.ird");
    m_served = m_dir.File("served.fdu");
    m_target = m_dir.File("target.fdu");
    WriteBytes(m_download, TestBytes(3000, seed));
    WriteBytes(m_served, TestBytes(2000, seed + 1));
    m_tool = std::make_unique<InProcessTool>();
  }

  // One transfer, ended as the dice say. Returns how it was ended.
  Ending RunOne() {
    const bool upload = Dice(2) == 1;
    Sim sim = upload ? StartSim({"--timeout", "5", "upload", "--serve", m_served})
                     : StartSim({"--timeout", "5", "download", "--mode", "software", "--expect",
                                 m_download, "--block-size", "512"});
    if (sim.device.empty()) return Ending::kNone;
    const auto ending = static_cast<Ending>(Dice(4));
    const int moment = Dice(14);  // handled notifications before the ending strikes
    m_tool->Start(sim.device, upload ? m_target : m_download, upload ? MODE_CHANNELS : MODE_SOFTWARE,
                  upload ? DIR_TO_COMPUTER : DIR_TO_RECEIVER);
    FaultWindow& window = m_tool->window;
    const int exitsBefore = window.WorkerExits();
    while (window.MessagesHandled() < moment && window.WorkerExits() == exitsBefore) {
      if (!window.PumpOne(5s)) break;
    }
    Strike(ending);
    if (ending != Ending::kClose && m_tool->window.WorkerExits() == exitsBefore) {
      EXPECT_TRUE(m_tool->window.PumpUntilWorkerExit(15s))
          << "ending " << static_cast<int>(ending) << " after " << moment << " messages, "
          << (upload ? "upload: " : "download: ") << m_tool->window.StatusesJoined()
          << sim.process->StderrJoined();
    }
    ++m_endings[static_cast<int>(ending)];
    return ending;
  }

  void Finish() { m_tool.reset(); }
  const int* Endings() const { return m_endings; }

 private:
  int Dice(int sides) { return std::uniform_int_distribution<int>(0, sides - 1)(m_random); }

  void Strike(Ending ending) {
    TransferController& controller = *m_tool->controller;
    switch (ending) {
      case Ending::kNone:
        break;
      case Ending::kStop:
        controller.OnStop();
        break;
      case Ending::kWatchdog:
        // Four ticks with no progress between them; harmless before the first request.
        for (int tick = 0; tick < 4; ++tick) controller.OnTimer(TIMER_WATCHDOG);
        break;
      case Ending::kClose:
        m_tool.reset();  // close request, then the controller and its window are destroyed
        m_tool = std::make_unique<InProcessTool>();
        break;
    }
  }

  std::mt19937 m_random;
  ScratchDir m_dir;
  std::string m_download, m_served, m_target;
  std::unique_ptr<InProcessTool> m_tool;
  int m_endings[4] = {};
};

TEST(FaultChurn, TwoHundredTransfersEndedAtRandomMomentsLeakNothing) {
  Churn churn(2024);
  for (int i = 0; i < 5; ++i) churn.RunOne();  // allocator and library warm-up
  const Counts before = Measure();
  const long residentBefore = ResidentKiB();
  for (int i = 0; i < 200; ++i) churn.RunOne();
  churn.Finish();
  const Counts after = Measure();
  const int* endings = churn.Endings();
  std::cout << "endings (with warm-up): finish " << endings[0] << ", stop " << endings[1]
            << ", watchdog " << endings[2] << ", close " << endings[3] << "; threads "
            << before.threads << " -> " << after.threads << ", descriptors " << before.descriptors
            << " -> " << after.descriptors << ", heap " << before.heap << " -> " << after.heap
            << " bytes, RSS " << residentBefore << " -> " << ResidentKiB() << " KiB" << std::endl;
  EXPECT_EQ(after.threads, before.threads);
  EXPECT_EQ(after.descriptors, before.descriptors);
  EXPECT_LT(after.heap, before.heap + 256 * 1024);
  for (int kind = 0; kind < 4; ++kind) EXPECT_GT(endings[kind], 20);
}

}  // namespace
}  // namespace kestal::e2e

#pragma once
// The tool's side of an exchange, played on a ScriptedLink: it answers what the virtual
// receiver sends the way a well-behaved tool would, with knobs to misbehave.
#include <cstdint>
#include <functional>
#include <string>
#include <sstream>
#include <vector>

#include "e2e/e2e_support.h"
#include "sim/session.h"
#include "sim/sim_options.h"
#include "support/fake_link.h"

namespace kestal::sim::testing {

using kestal::testing::ManualClock;
using kestal::testing::ScriptedLink;
using kestal::testing::SentFrame;
using kestal::testing::WireFrame;

struct BlockAsk {
  uint8_t sequence;
  uint16_t length;
  uint32_t offset;
};

using e2e::ReadBytes;
using e2e::TestBytes;
using e2e::WriteBytes;

BlockAsk ParseBlockRequest(const SentFrame& frame);
std::vector<uint8_t> Burst();

// Serves `data` to block requests like the sending tool does.
class DownloadingTool {
 public:
  DownloadingTool(ScriptedLink& link, std::vector<uint8_t> data);

  // Return true to leave a frame from the receiver unanswered.
  std::function<bool(const SentFrame&)> ignore;
  uint8_t acceptCommand = 2;  // CMD_ACCEPT_DOWNLOAD
  bool hangUpPastEnd = true;  // a request past the end stops the tool and closes the port

  std::vector<SentFrame> requests;      // every CMD_REQUEST received
  std::vector<BlockAsk> blockAsks;      // every CMD_BLOCK_REQUEST received
  int finishes = 0;

 private:
  void Handle(const SentFrame& frame);

  ScriptedLink& m_link;
  std::vector<uint8_t> m_data;
};

// Test fixture pieces: options fit for a manual clock, a scratch directory, and a run of a role.
struct RoleRun {
  e2e::ScratchDir dir;
  ManualClock clock;
  ScriptedLink link{clock};
  SimOptions options;
  std::ostringstream log;

  RoleRun() {
    options.timeoutMs = 20000;
    options.replyTimeoutMs = 1500;
  }
  int Download() { return RunDownloadRole(SimSession{link, options, log, {}}); }
  int Upload() { return RunUploadRole(SimSession{link, options, log, {}}); }
};

}  // namespace kestal::sim::testing

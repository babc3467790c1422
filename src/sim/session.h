#pragma once
// One run of the virtual receiver against a tool on the other end of a link.
#include <functional>
#include <ostream>
#include <string>

#include "link/link.h"
#include "sim/sim_options.h"

namespace kestal::sim {

struct SimSession {
  Link& link;
  const SimOptions& options;
  std::ostream& log;                      // report lines, "sim: ..."
  std::function<void()> onPeerConnected;  // called once the tool's wake-up burst has arrived,
                                          // and again once it has accepted the request
  // Called when the tool closes the port after the request went out but before accepting it;
  // true when the line can wait for the tool to come back.
  std::function<bool()> onPeerLeft;
};

// The receiver in a transfer to it: asks for the data block by block and checks what arrived.
// Returns the exit status: 0 = the tool behaved as expected, 1 = a fault (reported on the log).
int RunDownloadRole(const SimSession& session);
// The receiver in a transfer from it: serves a file's bytes to the tool's queries.
int RunUploadRole(const SimSession& session);

}  // namespace kestal::sim

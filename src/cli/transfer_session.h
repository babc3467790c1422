#pragma once
// One `send` or `receive` run from start to end on the calling thread, which becomes the
// loop ("window") thread for the controller.
#include <cstdio>

#include "cli/transfer_options.h"
#include "link/serial_link.h"
#include "ports/port_info.h"

namespace kestal::cli {

// What --port auto hands a transfer: the port it found, still open, with the request it read,
// and the way on to the next port that asks should this one go away first.
class PortHandOver {
 public:
  virtual ~PortHandOver() = default;
  // Before the transfer opens the link: the port and the request go to it.
  virtual void Adopt(SerialLink& link) = 0;
  // Loop thread: the receiver has said more than its request. The port is the one.
  virtual void Answered() = 0;
  // Loop thread: the port hung up before that. True when the run goes on with another port;
  // the transfer then ends without a word.
  virtual bool PassOn() = 0;
};

// Opens `port`, runs the transfer the options describe and returns the exit status: 0 for a
// completed transfer, 1 for one that failed, was stopped by a signal or timed out.
// Status texts, traces and progress go to `console` (a bar when `isTerminal`); the events of
// --progress=json to stdout.
// `handOver`, when given, brings the port already open (--port auto).
int RunTransfer(const TransferOptions& options, const PortInfo& port, std::FILE* console,
                bool isTerminal, PortHandOver* handOver = nullptr);

}  // namespace kestal::cli

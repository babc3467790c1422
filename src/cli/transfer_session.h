#pragma once
// One `send` or `receive` run from start to end on the calling thread, which becomes the
// loop ("window") thread for the controller.
#include <cstdio>
#include <functional>

#include "cli/transfer_options.h"
#include "link/serial_link.h"
#include "ports/port_info.h"

namespace kestal::cli {

// Opens `port`, runs the transfer the options describe and returns the exit status: 0 for a
// completed transfer, 1 for one that failed, was stopped by a signal or timed out.
// Status texts, traces and progress go to `console` (a bar when `isTerminal`); the events of
// --progress=json to stdout.
// `prepareLink`, when given, sees the link before the transfer opens it (--port auto hands it
// the port it found open).
int RunTransfer(const TransferOptions& options, const PortInfo& port, std::FILE* console,
                bool isTerminal, const std::function<void(SerialLink&)>& prepareLink = {});

}  // namespace kestal::cli

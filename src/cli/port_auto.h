#pragma once
// --port auto: every USB serial and virtual port is woken at once, and the transfer runs on the
// first one whose receiver asks for data.
#include "cli/transfer_options.h"

namespace kestal::cli {

// The --port value that asks for the probe rather than naming a port.
constexpr const char* kAutoPort = "auto";

// Probes, then runs the transfer the options describe on the port that answered. Returns the
// exit status as RunTransfer does; 1 when no port answered (none found, none opened, SIGINT or
// SIGTERM, or --timeout passed first).
int RunOnAnsweringPort(const TransferOptions& options);

}  // namespace kestal::cli

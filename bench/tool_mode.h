#pragma once
// `kestal-bench tool`: kestal-cli's send/receive (the same front end, controller, workers and
// link) with the frames' timestamps recorded and written to a file after the transfer.
#include <string>

#include "cli/transfer_options.h"

namespace kestal::bench {

// Returns kestal-cli's exit status for the transfer.
int RunTimedTransfer(const cli::TransferOptions& options, const std::string& timingPath);

}  // namespace kestal::bench

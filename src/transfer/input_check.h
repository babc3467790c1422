#pragma once
// What is checked of a transfer's file before the port is touched, so that nobody resets a
// receiver for a file that cannot be sent or a folder that cannot take the data.
#include <optional>
#include <string>

#include "transfer/transfer_request.h"

namespace kestal {

// Why a request cannot start: the status text, naming the file and the reason.
// nullopt: the file can be read (towards the receiver) or its folder written (from it).
std::optional<std::string> CheckTransferFile(const TransferRequest& request);

// A warning when the file's extension does not fit the mode (.ird for Software, .fdu for
// Channels); empty when it fits. The transfer goes ahead either way.
std::string ExtensionWarning(const TransferRequest& request);

}  // namespace kestal

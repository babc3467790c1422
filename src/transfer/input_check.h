#pragma once
// What is checked of a transfer's file before the port is touched, so that nobody resets a
// receiver for a file that cannot be sent or a target that cannot take the data.
#include <optional>
#include <string>

#include "transfer/transfer_request.h"

namespace kestal {

// Why a request cannot start: the reason, naming the file (shown under "Error : File open
// error."). nullopt: the file can be read (towards the receiver) or the target written (from
// it).
std::optional<std::string> CheckTransferFile(const TransferRequest& request);

// A warning when the file's extension does not fit the mode (.ird for Software, .fdu for
// Channels); empty when it fits. The transfer goes ahead either way.
std::string ExtensionWarning(const TransferRequest& request);

// The platform's half (input_check_posix.cpp, input_check_win32.cpp).
//
// Why `path` cannot be sent: missing, not a regular file, not readable. nullopt: it can.
std::optional<std::string> WhyNotReadable(const std::string& path);
// The file a receive into `target` replaces: the target itself, or the file a symbolic link
// there names. Empty, with `why` set, when it must not be written: a folder, a device, a
// read-only file, a folder that does not take a new file, a link to nothing, or a link that
// another user planted in a shared folder (such as /tmp).
std::string ResolveReceiveTarget(const std::string& target, std::string& why);
// "Cannot write PATH: REASON.", the words of every refusal of a target.
std::string CannotWrite(const std::string& path, const std::string& reason);

}  // namespace kestal

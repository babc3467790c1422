#pragma once
// Why a port did not open, in words a user can act on. Both front ends show it under
// "Open port failed!".
#include <string>

#include "link/link.h"

namespace kestal {

// The reason and what to do about it; empty for OpenResult::Ok. A permission refusal names the
// device's group, read from the device itself.
std::string DescribeOpenFailure(OpenResult result, const std::string& devicePath);

}  // namespace kestal

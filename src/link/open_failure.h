#pragma once
// Why a port did not open, in words a user can act on. Both front ends show it under
// "Open port failed!".
#include <string>

#include "link/link.h"

namespace kestal {

// The reason and what to do about it; empty for OpenResult::Ok.
std::string DescribeOpenFailure(OpenResult result, const std::string& devicePath);

// The platform's half (open_failure_posix.cpp, open_failure_win32.cpp): what to do when the
// device refused us. Names a group to join only when that group may open the device.
std::string PermissionAdvice(const std::string& devicePath);

}  // namespace kestal

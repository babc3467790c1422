#pragma once
// Lists the entries of a directory that discovery scans.
#include <string>
#include <vector>

namespace kestal {

// Names in `dir`, hidden ones ("." prefix) left out, in natural order. A missing directory
// holds no ports and gives an empty list; any other failure throws the message text.
std::vector<std::string> ListEntryNames(const std::string& dir);

}  // namespace kestal

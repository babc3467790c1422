#pragma once
// Lists the entries of a directory that discovery scans.
#include <string>
#include <vector>

namespace kestal {

// Sets `names` to the names in `dir`, hidden ones ("." prefix) left out, in natural order.
// A missing directory holds no ports and gives an empty list; any other failure returns the
// error text (empty on success).
std::string ListEntryNames(const std::string& dir, std::vector<std::string>& names);

}  // namespace kestal

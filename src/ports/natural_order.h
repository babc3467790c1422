#pragma once
// Orders port names the way people count them: ttyUSB2 before ttyUSB10.
#include <string_view>

namespace kestal {

// Compares runs of digits by numeric value and everything else byte by byte; names that differ
// only in leading zeros fall back to plain byte order so the order stays total.
bool NaturalLess(std::string_view a, std::string_view b);

}  // namespace kestal

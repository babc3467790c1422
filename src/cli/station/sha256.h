#pragma once
// SHA-256, the name a station's log gives the version of the file it served.
#include <cstdint>
#include <string>
#include <vector>

namespace kestal::cli {

// The digest of `bytes` in lower-case hexadecimal (64 characters); OpenSSL's libcrypto computes
// it. Empty only if the library fails.
std::string Sha256Hex(const std::vector<uint8_t>& bytes);

}  // namespace kestal::cli

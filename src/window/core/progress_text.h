#pragma once
// The line beside the progress bar: bytes done of the total, the rate and the time left while a
// transfer runs; what a completed transfer moved once it is over.
#include <cstdint>
#include <string>

namespace kestal::window {

// "1.5 MB of 4.0 MB · 120 KB/s · 0:21 left"; only the bytes until a rate can be told
// (`seconds` is the time since the transfer started); empty while the total is unknown.
std::string ProgressText(uint64_t bytesDone, uint64_t bytesTotal, double seconds);

// "49152 bytes sent in 0:04." (or received): every byte counted, so a user can compare.
std::string MovedText(uint64_t bytes, bool sent, double seconds);

}  // namespace kestal::window

#pragma once
// Whole-file reads and writes for the data the emulator checks, saves and serves.
#include <cstdint>
#include <string>
#include <vector>

namespace kestal::sim {

// False with `error` set when the file cannot be read.
bool ReadWholeFile(const std::string& path, std::vector<uint8_t>& data, std::string* error);
bool WriteWholeFile(const std::string& path, const std::vector<uint8_t>& data, std::string* error);
// Describes the first difference ("" when equal): "differs at offset N" or a size difference.
std::string FirstDifference(const std::vector<uint8_t>& got, const std::vector<uint8_t>& want);

}  // namespace kestal::sim

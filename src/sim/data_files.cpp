#include "sim/data_files.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>

namespace kestal::sim {

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>& data, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    if (error) *error = "cannot read " + path + ": " + std::strerror(errno);
    return false;
  }
  data.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (in.bad()) {
    if (error) *error = "cannot read " + path;
    return false;
  }
  return true;
}

bool WriteWholeFile(const std::string& path, const std::vector<uint8_t>& data, std::string* error) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
  out.close();
  if (!out) {
    if (error) *error = "cannot write " + path;
    return false;
  }
  return true;
}

std::string FirstDifference(const std::vector<uint8_t>& got, const std::vector<uint8_t>& want) {
  const auto [gotAt, wantAt] = std::mismatch(got.begin(), got.end(), want.begin(), want.end());
  if (gotAt == got.end() && wantAt == want.end()) return {};
  const auto offset = std::distance(got.begin(), gotAt);
  if (gotAt == got.end() || wantAt == want.end()) {
    return "got " + std::to_string(got.size()) + " bytes, expected " + std::to_string(want.size()) +
           " (equal up to offset " + std::to_string(offset) + ")";
  }
  return "differs at offset " + std::to_string(offset);
}

}  // namespace kestal::sim

#pragma once
// What the user asked for: a file, a mode and a direction. The values are the indexes of the
// window's mode list and direction buttons; -1 means nothing is selected.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kestal {

constexpr int MODE_SOFTWARE = 0;    // "Software": an .ird image sent byte for byte
constexpr int MODE_CHANNELS = 1;    // "Channels": an .fdu channel list
constexpr int DIR_TO_RECEIVER = 0;  // "To Reciever"
constexpr int DIR_TO_COMPUTER = 1;  // "To Computer"

struct TransferRequest {
  std::string path;
  int mode = -1;
  int direction = -1;
  // A download's data taken from the file beforehand and shared by any number of transfers (a
  // station serves one version of a file to every port): in Software mode the file's bytes, in
  // Channels mode the image packed from them (its request value is set per transfer). When set,
  // the file at `path` is neither checked nor read again; `path` only names it.
  std::shared_ptr<const std::vector<uint8_t>> served = nullptr;
};

}  // namespace kestal

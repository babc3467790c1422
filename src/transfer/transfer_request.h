#pragma once
// What the user asked for: a file, a mode and a direction. The values are the indexes of the
// window's mode list and direction buttons; -1 means nothing is selected.
#include <string>

namespace kestal {

constexpr int MODE_SOFTWARE = 0;    // "Software": an .ird image sent byte for byte
constexpr int MODE_CHANNELS = 1;    // "Channels": an .fdu channel list
constexpr int DIR_TO_RECEIVER = 0;  // "To Reciever"
constexpr int DIR_TO_COMPUTER = 1;  // "To Computer"

struct TransferRequest {
  std::string path;
  int mode = -1;
  int direction = -1;
};

}  // namespace kestal

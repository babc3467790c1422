#pragma once
// Where the window keeps its settings, and the value names it uses.
#include <string>

#include "transfer/transfer_job.h"

namespace kestal {

constexpr const char* SETTINGS_PATH = "SOFTWARE\\ostrel\\pelmar\\General";
constexpr const char* VALUE_PORT = "port";
constexpr const char* VALUE_MODE = "mode";
constexpr const char* VALUE_SOFTFILE = "softfile";
constexpr const char* VALUE_CHFILE = "chfile";

// The value holding the last file of `mode`; nullptr when no mode is selected.
inline const char* PathValueForMode(int mode) {
  if (mode == MODE_SOFTWARE) return VALUE_SOFTFILE;
  if (mode == MODE_CHANNELS) return VALUE_CHFILE;
  return nullptr;
}

}  // namespace kestal

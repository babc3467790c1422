#include "cli/transfer_options.h"

namespace kestal::cli {

int ModeFromFileName(const std::string& path) {
  if (path.size() >= 3) {
    const std::string tail = path.substr(path.size() - 3);
    if (tail == "fdu" || tail == "FDU") return MODE_CHANNELS;
  }
  return MODE_SOFTWARE;
}

}  // namespace kestal::cli

#include "window/core/program_info.h"

namespace kestal::window {
namespace {

constexpr const char* kUsage =
    "Usage: kestal [FILE]\n"
    "Opens the Kestal window. With FILE, sends it to the receiver at once (.fdu: channels,\n"
    "anything else: software) through the port used last, and exits: 0 when the transfer\n"
    "completed, 1 otherwise. With no port remembered, the window opens with FILE filled in.\n"
    "\n"
    "  --help     print this help and exit\n"
    "  --version  print the version and licence and exit\n";

}  // namespace

std::optional<std::string> InfoOptionText(const std::string& firstArgument) {
  if (firstArgument == "--help") return std::string(kUsage);
  if (firstArgument == "--version")
    return std::string("kestal ") + kVersion + "\n" + kCopyright + "\n" + kLicence + "\n";
  return std::nullopt;
}

}  // namespace kestal::window

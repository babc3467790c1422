#pragma once
// What the window program says about itself: its version and licence (the About box,
// --version) and its usage (--help).
#include <optional>
#include <string>

namespace kestal::window {

constexpr const char* kVersion = KESTAL_VERSION;
constexpr const char* kCopyright = "Copyright (c) 2026 The Kestal developers";
constexpr const char* kLicence = "Released under the MIT License.";

// The text to print for --help or --version as the first argument; nullopt for anything else
// (a file to send, or nothing). Needs no window.
std::optional<std::string> InfoOptionText(const std::string& firstArgument);

}  // namespace kestal::window

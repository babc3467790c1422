#pragma once
// Who holds the copyright and under which licence, as every program's --version and About box
// state it (the full text is in LICENSE).
namespace kestal {

constexpr const char* kCopyrightLine = "Copyright (c) 2026 The Kestal developers";
constexpr const char* kLicenseLine =
    "MIT License: free to use, copy, change and share; no warranty.";

}  // namespace kestal

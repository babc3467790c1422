#pragma once
// File names are UTF-8 inside the program. std::filesystem would take a plain string in the
// system's code page on Windows; taken as UTF-8 it reaches the wide API with every letter.
#include <filesystem>
#include <string>
#include <string_view>

namespace kestal {

inline std::filesystem::path Utf8Path(std::string_view utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

}  // namespace kestal

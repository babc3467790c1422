#include "window/core/file_names.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "transfer/transfer_request.h"

namespace kestal::window {
namespace {

namespace fs = std::filesystem;

// std::string is taken as the system's code page by std::filesystem on Windows; UTF-8 is not.
fs::path FromUtf8(const std::string& text) {
  return fs::path(std::u8string(text.begin(), text.end()));
}

std::string ToUtf8(const fs::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

bool EndsWith(const std::string& text, const std::string& suffix, bool ignoreCase) {
  const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
  return text.size() >= suffix.size() &&
         std::equal(suffix.begin(), suffix.end(), text.end() - static_cast<long>(suffix.size()),
                    [&](char a, char b) { return ignoreCase ? lower(a) == lower(b) : a == b; });
}

}  // namespace

bool FileReadable(const std::string& path) {
  std::error_code error;
  const fs::path file = FromUtf8(path);
  if (!fs::is_regular_file(file, error)) return false;
  return std::ifstream(file, std::ios::binary).is_open();
}

std::string AbsolutePath(const std::string& path) {
  std::error_code error;
  const fs::path absolute = fs::absolute(FromUtf8(path), error);
  return error ? path : ToUtf8(absolute.lexically_normal());
}

int ModeOfExtension(const std::string& path) {
  if (EndsWith(path, ".ird", true)) return MODE_SOFTWARE;
  if (EndsWith(path, ".fdu", true)) return MODE_CHANNELS;
  return -1;
}

int ModeForCommandLine(const std::string& path) {
  const bool channels = EndsWith(path, "fdu", false) || EndsWith(path, "FDU", false) ||
                        ModeOfExtension(path) == MODE_CHANNELS;
  return channels ? MODE_CHANNELS : MODE_SOFTWARE;
}

}  // namespace kestal::window

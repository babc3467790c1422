#include "transfer/input_check.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>

namespace kestal {
namespace {

std::optional<std::string> CheckSource(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return "Cannot read " + path + ": " + std::strerror(errno);
  if (!S_ISREG(info.st_mode)) return "Cannot read " + path + ": not a regular file";
  if (::access(path.c_str(), R_OK) != 0) return "Cannot read " + path + ": " + std::strerror(errno);
  return std::nullopt;
}

std::optional<std::string> CheckTargetFolder(const std::string& path) {
  const size_t slash = path.rfind('/');
  const std::string folder =
      slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
  struct stat info {};
  if (::stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
    return "Cannot write " + path + ": folder " + folder + " does not exist";
  }
  if (::access(folder.c_str(), W_OK | X_OK) != 0) {
    return "Cannot write " + path + ": folder " + folder + " is not writable";
  }
  return std::nullopt;
}

bool EndsWithNoCase(const std::string& text, const std::string& suffix) {
  if (text.size() < suffix.size()) return false;
  return std::equal(suffix.begin(), suffix.end(), text.end() - suffix.size(),
                    [](char a, char b) { return std::tolower(a) == std::tolower(b); });
}

}  // namespace

std::optional<std::string> CheckTransferFile(const TransferRequest& request) {
  if (request.direction == DIR_TO_RECEIVER) return CheckSource(request.path);
  return CheckTargetFolder(request.path);
}

std::string ExtensionWarning(const TransferRequest& request) {
  const char* expected = request.mode == MODE_SOFTWARE   ? ".ird"
                         : request.mode == MODE_CHANNELS ? ".fdu"
                                                         : nullptr;
  if (expected == nullptr || EndsWithNoCase(request.path, expected)) return {};
  const char* modeName = request.mode == MODE_SOFTWARE ? "Software" : "Channels";
  return "Note: " + request.path + " does not end in " + expected + ", as " + modeName +
         " files do.";
}

}  // namespace kestal

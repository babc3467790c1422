#include "transfer/input_check.h"

#include <algorithm>
#include <cctype>

#include "common/printable.h"

namespace kestal {
namespace {

bool EndsWithNoCase(const std::string& text, const std::string& suffix) {
  if (text.size() < suffix.size()) return false;
  return std::equal(suffix.begin(), suffix.end(), text.end() - suffix.size(),
                    [](char a, char b) { return std::tolower(a) == std::tolower(b); });
}

}  // namespace

std::string CannotWrite(const std::string& path, const std::string& reason) {
  return "Cannot write " + Printable(path) + ": " + reason + ".";
}

std::optional<std::string> CheckTransferFile(const TransferRequest& request) {
  if (request.direction == DIR_TO_RECEIVER) return WhyNotReadable(request.path);
  std::string why;
  if (ResolveReceiveTarget(request.path, why).empty()) return why;
  return std::nullopt;
}

std::string ExtensionWarning(const TransferRequest& request) {
  const char* expected = request.mode == MODE_SOFTWARE   ? ".ird"
                         : request.mode == MODE_CHANNELS ? ".fdu"
                                                         : nullptr;
  if (expected == nullptr || EndsWithNoCase(request.path, expected)) return {};
  const char* modeName = request.mode == MODE_SOFTWARE ? "Software" : "Channels";
  return "Note: " + Printable(request.path) + " does not end in " + expected + ", as " + modeName +
         " files do.";
}

}  // namespace kestal

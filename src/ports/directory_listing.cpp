#include "ports/directory_listing.h"

#include <dirent.h>

#include <algorithm>
#include <cerrno>
#include <memory>

#include "ports/natural_order.h"
#include "ports/port_strategies.h"

namespace kestal {
namespace {

struct DirCloser {
  void operator()(DIR* dir) const { closedir(dir); }
};

}  // namespace

std::string ListEntryNames(const std::string& dir, std::vector<std::string>& names) {
  names.clear();
  std::unique_ptr<DIR, DirCloser> handle(opendir(dir.c_str()));
  if (!handle) return errno == ENOENT ? std::string() : UnreadableText(dir, errno);
  for (;;) {
    errno = 0;
    const dirent* entry = readdir(handle.get());
    if (entry == nullptr) {
      if (errno != 0) return UnreadableText(dir, errno);
      break;
    }
    if (entry->d_name[0] != '.') names.emplace_back(entry->d_name);
  }
  std::sort(names.begin(), names.end(),
            [](const std::string& a, const std::string& b) { return NaturalLess(a, b); });
  return {};
}

}  // namespace kestal

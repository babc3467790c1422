#pragma once
// FILE as a station serves it: read once when the station starts, so that every receiver gets
// the same version whatever becomes of the file on disk, named in the log by its SHA-256.
#include <sys/stat.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kestal::cli {

struct ServedFile {
  std::string path;
  int mode = 0;
  uint64_t size = 0;   // of the file
  std::string sha256;  // of the file's bytes
  // What the transfers serve, shared by all: the bytes, or in Channels mode the image packed
  // from them.
  std::shared_ptr<const std::vector<uint8_t>> data;
};

// Why the file cannot be served: a status text and the reason under it.
struct ServeRefusal {
  std::string status;
  std::string reason;
};

// Reads the file (and packs it in Channels mode); the refusal when it cannot be served.
std::optional<ServedFile> TakeServedFile(const std::string& path, int mode, ServeRefusal& refusal);

// Notices when the file on disk stops holding the version being served, or holds it again.
// Cheap while nothing changes: the file is read and hashed again only once a change of its
// metadata has stayed put for one look.
class FileWatch {
 public:
  explicit FileWatch(const ServedFile& served);
  // Takes a look; what to tell the operator when the file's content has changed since the
  // last thing told (empty: nothing new).
  std::string Look();

 private:
  struct Stamp {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    int64_t modified = 0;
    int64_t changed = 0;
    bool operator==(const Stamp&) const = default;
  };
  std::optional<Stamp> StampNow() const;
  std::string Describe(const std::optional<std::string>& sha256) const;

  const ServedFile& served_;
  std::optional<Stamp> hashed_;      // the metadata the last hash was taken with
  std::optional<Stamp> seen_;        // at the last look
  std::optional<std::string> told_;  // the content last told of (the served one at first)
};

}  // namespace kestal::cli

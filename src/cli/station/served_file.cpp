#include "cli/station/served_file.h"

#include <climits>
#include <cstring>

#include "cli/station/sha256.h"
#include "common/printable.h"
#include "image/file_maker.h"
#include "transfer/file_access.h"
#include "transfer/input_check.h"
#include "transfer/status_texts.h"
#include "transfer/transfer_request.h"

namespace kestal::cli {
namespace {

// The channel list in memory, packed as the worker packs a file.
class BytesSource : public PackSource {
 public:
  explicit BytesSource(const std::vector<uint8_t>& bytes) : bytes_(bytes) {}
  uint64_t Size() const override { return bytes_.size(); }
  bool Read(uint8_t* destination, size_t count) override {
    if (count > bytes_.size() - at_) return false;
    std::memcpy(destination, bytes_.data() + at_, count);
    at_ += count;
    return true;
  }
  bool AtEnd() override { return at_ == bytes_.size(); }

 private:
  const std::vector<uint8_t>& bytes_;
  size_t at_ = 0;
};

// The whole file, as one version: nullopt when it cannot be read or changes while it is read.
std::optional<std::vector<uint8_t>> ReadWhole(const std::string& path) {
  SourceFile file;
  if (!file.Open(path)) return std::nullopt;
  std::vector<uint8_t> bytes(file.Size());
  for (size_t at = 0; at < bytes.size();) {
    const int64_t n = file.ReadAt(bytes.data() + at, bytes.size() - at, at);
    if (n <= 0) return std::nullopt;
    at += static_cast<size_t>(n);
  }
  uint8_t extra = 0;
  if (file.ReadAt(&extra, 1, bytes.size()) != 0 || !file.Unchanged()) return std::nullopt;
  return bytes;
}

}  // namespace

std::optional<ServedFile> TakeServedFile(const std::string& path, int mode, ServeRefusal& refusal) {
  refusal = {text::kFileOpenError, WhyNotReadable(path).value_or("")};
  if (!refusal.reason.empty()) return std::nullopt;
  std::optional<std::vector<uint8_t>> bytes = ReadWhole(path);
  if (!bytes) {
    refusal.reason = Printable(path) + " could not be read whole (it changed while it was read?).";
    return std::nullopt;
  }
  if (bytes->empty()) {
    refusal.reason = Printable(path) + " is empty.";
    return std::nullopt;
  }
  // The transfers measure what they serve in 31 bits.
  if (bytes->size() > INT_MAX) {
    refusal = {text::kFileSizeOver, Printable(path) + " is larger than 2 GB."};
    return std::nullopt;
  }
  ServedFile served{path, mode, bytes->size(), Sha256Hex(*bytes), nullptr};
  if (mode == MODE_CHANNELS) {
    auto image = std::make_shared<std::vector<uint8_t>>();
    BytesSource source(*bytes);
    if (PackChannelImage(0, source, *image) == 0) {
      refusal = {text::kPackagingError, ""};
      return std::nullopt;
    }
    served.data = std::move(image);
  } else {
    served.data = std::make_shared<const std::vector<uint8_t>>(std::move(*bytes));
  }
  return served;
}

FileWatch::FileWatch(const ServedFile& served)
    : served_(served), hashed_(StampNow()), seen_(hashed_), told_(served.sha256) {}

std::optional<FileWatch::Stamp> FileWatch::StampNow() const {
  struct stat info {};
  if (::stat(served_.path.c_str(), &info) != 0) return std::nullopt;
  const auto nanoseconds = [](const timespec& t) { return t.tv_sec * 1'000'000'000LL + t.tv_nsec; };
  return Stamp{info.st_dev, info.st_ino, info.st_size, nanoseconds(info.st_mtim),
               nanoseconds(info.st_ctim)};
}

std::string FileWatch::Look() {
  const std::optional<Stamp> now = StampNow();
  const bool settled = now == seen_;
  seen_ = now;
  // A file being written is looked at again once it has stopped changing.
  if (!settled || now == hashed_) return {};
  hashed_ = now;
  std::optional<std::string> content;
  if (now) {
    if (const auto bytes = ReadWhole(served_.path)) content = Sha256Hex(*bytes);
  }
  if (content == told_) return {};
  told_ = content;
  return Describe(content);
}

std::string FileWatch::Describe(const std::optional<std::string>& sha256) const {
  const std::string name = Printable(served_.path);
  if (sha256 == served_.sha256) return name + " on disk is again the version being served.";
  const std::string goesOn = "; the station goes on serving the version it started with (SHA-256 " +
                             served_.sha256 + "). Restart it to serve the file as it is now.";
  if (!sha256) return name + " can no longer be read" + goesOn;
  return name + " has changed on disk (SHA-256 now " + *sha256 + ")" + goesOn;
}

}  // namespace kestal::cli

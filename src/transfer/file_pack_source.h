#pragma once
// A channel list opened through the platform's file seam, handed to the packer: it reads the
// file from its start, and a file that shrinks or grows meanwhile shows as such.
#include "image/file_maker.h"
#include "transfer/file_access.h"

namespace kestal {

class FilePackSource : public PackSource {
 public:
  explicit FilePackSource(SourceFile& file) : file_(file) {}
  uint64_t Size() const override { return file_.Size(); }
  bool Read(uint8_t* destination, size_t count) override {
    if (file_.ReadAt(destination, count, offset_) != static_cast<int64_t>(count)) return false;
    offset_ += count;
    return true;
  }
  bool AtEnd() override {
    uint8_t extra = 0;
    return file_.ReadAt(&extra, 1, offset_) == 0;
  }

 private:
  SourceFile& file_;
  uint64_t offset_ = 0;
};

}  // namespace kestal

#include "link/frame_scanner.h"

#include <algorithm>

#include "link/frame_codec.h"

namespace kestal {
namespace {

constexpr size_t kSyncSize = sizeof kFrameSync;
constexpr size_t kBurstSize = sizeof WakeUpBurst;

using Bytes = std::vector<uint8_t>;

Bytes::const_iterator FindSync(const Bytes& bytes, size_t from) {
  return std::search(bytes.begin() + static_cast<std::ptrdiff_t>(from), bytes.end(), kFrameSync,
                     kFrameSync + kSyncSize);
}

Bytes::const_iterator FindBurst(Bytes::const_iterator begin, Bytes::const_iterator end) {
  return std::search(begin, end, WakeUpBurst, WakeUpBurst + kBurstSize);
}

}  // namespace

uint16_t LineUnit::PayloadLength() const {
  return bytes.size() < kFrameHeaderSize ? 0 : GetBE16(bytes.data() + 2);
}

void FrameScanner::Emit(LineUnit::Kind kind, size_t count, const UnitHandler& onUnit) {
  if (count == 0) return;
  LineUnit unit;
  unit.kind = kind;
  unit.begin = heldAt_;
  unit.end = heldAt_ + count;
  const auto last = held_.begin() + static_cast<std::ptrdiff_t>(count);
  const size_t skipped = kind == LineUnit::Kind::Frame || kind == LineUnit::Kind::Incomplete
                             ? std::min(count, kSyncSize)
                             : 0;  // a frame's bytes are its body; the sync is implied
  unit.bytes.assign(held_.begin() + static_cast<std::ptrdiff_t>(skipped), last);
  if (kind == LineUnit::Kind::Frame) {
    unit.sumOk = FrameSum(unit.bytes.data(), unit.bytes.size() - 1) == unit.bytes.back();
  }
  held_.erase(held_.begin(), last);
  heldAt_ += count;
  onUnit(std::move(unit));
}

void FrameScanner::EmitStray(size_t count, const UnitHandler& onUnit) {
  while (count > 0) {
    const auto end = held_.begin() + static_cast<std::ptrdiff_t>(count);
    const auto burst = FindBurst(held_.begin(), end);
    if (burst == end) {
      Emit(LineUnit::Kind::Stray, count, onUnit);
      return;
    }
    const auto before = static_cast<size_t>(burst - held_.begin());
    Emit(LineUnit::Kind::Stray, before, onUnit);
    Emit(LineUnit::Kind::Burst, kBurstSize, onUnit);
    count -= before + kBurstSize;
  }
}

// held_ starts with a sync. A whole frame is handed on; false while it is still arriving.
// A frame whose sum fails with another sync inside it was most likely cut short (a lost byte,
// a damaged length): it ends where the next one begins, as the frame reader's time limit
// would have ended it.
bool FrameScanner::TakeFrame(const UnitHandler& onUnit) {
  if (held_.size() < kSyncSize + kFrameHeaderSize) return false;
  const size_t whole = kSyncSize + kFrameHeaderSize + GetBE16(held_.data() + kSyncSize + 2) + 1;
  if (held_.size() < whole) return false;
  const uint8_t* body = held_.data() + kSyncSize;
  const bool sumOk = FrameSum(body, whole - kSyncSize - 1) == held_[whole - 1];
  const auto next = FindSync(held_, 1);
  const auto nextAt = static_cast<size_t>(next - held_.begin());
  if (!sumOk && nextAt < whole) {
    EmitStray(nextAt, onUnit);
    return true;
  }
  Emit(LineUnit::Kind::Frame, whole, onUnit);
  return true;
}

void FrameScanner::Feed(const uint8_t* data, size_t size, const UnitHandler& onUnit) {
  held_.insert(held_.end(), data, data + size);
  for (;;) {
    const auto sync = FindSync(held_, 0);
    if (sync == held_.end()) {
      // No frame under way: a burst needs no frame after it to be known.
      const auto burst = FindBurst(held_.begin(), held_.end());
      if (burst == held_.end()) return;
      EmitStray(static_cast<size_t>(burst - held_.begin()) + kBurstSize, onUnit);
      continue;
    }
    EmitStray(static_cast<size_t>(sync - held_.begin()), onUnit);
    if (!TakeFrame(onUnit)) return;
  }
}

void FrameScanner::Finish(const UnitHandler& onUnit) {
  while (!held_.empty()) {
    const auto sync = FindSync(held_, 0);
    if (sync != held_.begin()) {
      EmitStray(static_cast<size_t>(sync - held_.begin()), onUnit);
      continue;
    }
    if (TakeFrame(onUnit)) continue;
    // Cut short: up to the next sync it was a broken frame; without one, the stream ended in it.
    const auto next = FindSync(held_, 1);
    if (next != held_.end()) {
      EmitStray(static_cast<size_t>(next - held_.begin()), onUnit);
    } else {
      Emit(LineUnit::Kind::Incomplete, held_.size(), onUnit);
    }
  }
}

}  // namespace kestal

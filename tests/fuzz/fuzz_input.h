#pragma once
// What every fuzz target shares: a reader that takes the fuzzer's bytes front to back, and a
// check that stops the run with a message when an invariant breaks (libFuzzer saves the input).
#include <cstddef>
#include <cstdint>
#include <vector>

namespace kestal::fuzz {

class FuzzInput {
 public:
  FuzzInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  bool Empty() const { return pos_ >= size_; }
  size_t Left() const { return size_ - pos_; }
  // The next byte, or 0 once the input is used up.
  uint8_t Byte();
  // Up to `count` bytes; fewer when the input runs out.
  std::vector<uint8_t> Bytes(size_t count);

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

// Aborts with `what` unless `condition` holds.
void Check(bool condition, const char* what);

}  // namespace kestal::fuzz

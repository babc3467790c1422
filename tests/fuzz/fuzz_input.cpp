#include "fuzz/fuzz_input.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace kestal::fuzz {

uint8_t FuzzInput::Byte() { return Empty() ? 0 : data_[pos_++]; }

std::vector<uint8_t> FuzzInput::Bytes(size_t count) {
  const size_t taken = std::min(count, Left());
  std::vector<uint8_t> bytes(data_ + pos_, data_ + pos_ + taken);
  pos_ += taken;
  return bytes;
}

void Check(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "invariant broken: %s\n", what);
  std::abort();
}

}  // namespace kestal::fuzz

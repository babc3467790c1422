#include "fuzz/fuzz_input.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace kestal::fuzz {

uint8_t FuzzInput::Byte() { return Empty() ? 0 : m_data[m_pos++]; }

uint32_t FuzzInput::BE32() {
  uint32_t value = 0;
  for (int i = 0; i < 4; ++i) value = (value << 8) | Byte();
  return value;
}

std::vector<uint8_t> FuzzInput::Bytes(size_t count) {
  const size_t taken = std::min(count, Left());
  std::vector<uint8_t> bytes(m_data + m_pos, m_data + m_pos + taken);
  m_pos += taken;
  return bytes;
}

void Check(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "invariant broken: %s\n", what);
  std::abort();
}

}  // namespace kestal::fuzz

#pragma once
// What every fuzz target shares: a reader that takes the fuzzer's bytes front to back, and a
// check that stops the run with a message when an invariant breaks (libFuzzer saves the input).
#include <cstddef>
#include <cstdint>
#include <vector>

namespace kestal::fuzz {

class FuzzInput {
 public:
  FuzzInput(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}

  bool Empty() const { return m_pos >= m_size; }
  size_t Left() const { return m_size - m_pos; }
  // The next byte, or 0 once the input is used up.
  uint8_t Byte();
  // The next 32-bit big-endian number; missing bytes read as 0.
  uint32_t BE32();
  // Up to `count` bytes; fewer when the input runs out.
  std::vector<uint8_t> Bytes(size_t count);

 private:
  const uint8_t* m_data;
  size_t m_size;
  size_t m_pos = 0;
};

// Aborts with `what` unless `condition` holds.
void Check(bool condition, const char* what);

}  // namespace kestal::fuzz

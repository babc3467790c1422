#pragma once
// Splits what one side put on the line into frames, wake-up bursts and the stray bytes between
// them, after the fact and without time limits: for reading a recording, and for telling what
// came back from a port.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace kestal {

struct LineUnit {
  enum class Kind {
    Frame,       // sync and a whole body; `bytes` is sequence, command, length, payload, sum
    Burst,       // the ten unframed bytes of the wake-up burst a tool opens with
    Stray,       // bytes that belong to no frame: noise, another speed, a broken frame
    Incomplete,  // a frame the stream ended in the middle of; `bytes` as far as it came
  };
  Kind kind = Kind::Stray;
  uint64_t begin = 0;  // stream offsets of the unit's first byte and one past its last
  uint64_t end = 0;
  std::vector<uint8_t> bytes;
  bool sumOk = false;  // frames only

  uint8_t Sequence() const { return bytes[0]; }
  uint8_t Command() const { return bytes[1]; }
  uint16_t PayloadLength() const;
  const uint8_t* Payload() const { return bytes.data() + 4; }
};

class FrameScanner {
 public:
  using UnitHandler = std::function<void(LineUnit&&)>;

  // Takes the next bytes of the stream. Frames and bursts are handed on as soon as they are
  // whole; stray bytes once a frame or a burst ends them, or at Finish.
  void Feed(const uint8_t* data, size_t size, const UnitHandler& onUnit);
  // The stream has ended: hands on whatever is still held.
  void Finish(const UnitHandler& onUnit);

 private:
  // Hands on the stray bytes before `count` held bytes, splitting a burst out of them.
  void EmitStray(size_t count, const UnitHandler& onUnit);
  void Emit(LineUnit::Kind kind, size_t count, const UnitHandler& onUnit);
  bool TakeFrame(const UnitHandler& onUnit);

  std::vector<uint8_t> held_;  // not yet handed on
  uint64_t heldAt_ = 0;        // stream offset of held_[0]
};

}  // namespace kestal

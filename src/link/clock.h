#pragma once
// Millisecond time source. Production code reads the steady clock; tests substitute a
// manual clock so that every time-out rule is exercised without sleeping.
#include <chrono>
#include <cstdint>

namespace kestal {

class Clock {
 public:
  virtual ~Clock() = default;
  virtual uint64_t NowMs() const = 0;
};

class SteadyClock final : public Clock {
 public:
  uint64_t NowMs() const override {
    using namespace std::chrono;
    return static_cast<uint64_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
  }
};

// The process-wide steady clock.
inline const Clock& SystemClock() {
  static const SteadyClock clock;
  return clock;
}

}  // namespace kestal

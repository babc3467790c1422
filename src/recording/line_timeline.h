#pragma once
// What a recording's bytes were: each direction's stream split into frames, bursts and stray
// bytes, each unit stamped with the time its last byte passed.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "link/frame_scanner.h"
#include "recording/recording.h"

namespace kestal::recording {

struct TimedUnit {
  LineUnit unit;
  bool fromReceiver = false;
  uint64_t micros = 0;  // when its last byte passed
  size_t line = 0;      // the recording's line that holds its last byte
};

// The units of one direction, in the order they passed.
std::vector<TimedUnit> DecodeDirection(const Recording& recording, bool fromReceiver);

// Both directions, merged in the order their units were complete.
std::vector<TimedUnit> DecodeTimeline(const Recording& recording);

}  // namespace kestal::recording

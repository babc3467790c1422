#pragma once
// How fuzz_upload_worker reads its input, shared with the seed maker.
//
// Byte 0: bits 0-1 choose the target (TargetSetup); bits 2-7, when not 0, are the progress
// notification at which the user stops the transfer (StopAtProgress), which is the one moment
// between two blocks. The rest is a script for the fake receiver: it takes
// one action before the worker starts and one each time the worker sends a frame. An action is
// a byte modulo kActionCount, followed by its own bytes. Actions marked "goes on" take the next
// action at the same point. A used-up script is a silent receiver.
#include <cstdint>

namespace kestal::fuzz {

enum TargetSetup : uint8_t {
  kNoTarget = 0,     // the target does not exist yet
  kOldTarget,        // the target holds an older file, which only a complete upload may replace
  kTargetIsDir,      // the target is a directory: it cannot be opened
  kTargetTooLong,    // the target path is longer than the worker accepts
  kSetupCount
};

static_assert(kSetupCount == 4, "the target takes bits 0-1 of byte 0");

constexpr uint8_t StopAtProgress(int notification) {
  return static_cast<uint8_t>(notification << 2);
}

enum UploadAction : uint8_t {
  // The right answer, now. Before the worker starts: CMD_REQUEST, + sequence byte. To a size
  // query: CMD_SIZE_REPLY, + 4-byte size. To a block request: the requested data. Else nothing.
  kAnswer = 0,
  kAnswerLater,        // the right answer's bytes, + delay byte (x 10 ms): it comes that late
  // + sequence offset, command, length, payload, delay byte; goes on. The payload of a
  // CMD_BLOCK_DATA is the data set at the requested offset; of a CMD_SIZE_REPLY a 4-byte size
  // from the script (padded or cut to the length); of others `length` bytes of the script.
  kFrame,
  kRaw,                // + length, bytes, delay byte; goes on
  kAnswerBadSum,       // the right answer with a wrong sum; goes on
  kAnswerSplit,        // answer's bytes, + split point, delay byte: its tail comes that late
  kSilence,            // no answer: the worker waits until the run is stopped
  kStop,               // the user stops the transfer
  kHangUp,             // the port goes away
  kRequestThenAnswer,  // + sequence byte, answer's bytes: a CMD_REQUEST, then the right answer
  kActionCount
};

constexpr uint64_t kDelayUnitMs = 10;

// The receiver's data set: byte `position` of it.
inline uint8_t DataSetByte(uint32_t position) {
  return static_cast<uint8_t>((position * 2654435761u) >> 24);
}

}  // namespace kestal::fuzz

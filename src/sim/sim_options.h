#pragma once
// Settings of one emulator run: which side of the exchange the virtual receiver plays, what it
// expects or serves, and which faults it injects into its own frames.
#include <cstdint>
#include <optional>
#include <string>

namespace kestal::sim {

// Faults applied to the frames the emulator sends, and to those it receives from the tool (as if
// the line had lost or damaged them on the way in). Counters and chances are per frame.
struct FaultOptions {
  uint32_t seed = 1;
  uint32_t noiseBytes = 0;     // random non-sync bytes written before each frame
  uint32_t falseStart = 0;     // the first N letters of the sync written before each frame
  uint32_t badSumEvery = 0;    // every K-th frame carries a wrong sum (0 = never)
  double corruptRate = 0.0;    // chance of a wrong sum
  uint32_t dropEvery = 0;      // every K-th frame is not sent at all (0 = never)
  double dropRate = 0.0;       // chance of a frame not being sent
  double garbleRate = 0.0;     // chance of one byte of a frame sent (sync, header, payload or
                               // sum) arriving changed
  double inDropRate = 0.0;     // chance of a frame from the tool being ignored, as if lost
  double inCorruptRate = 0.0;  // chance of a frame from the tool being taken as damaged
};

enum class DownloadMode { Software, Channels };

struct SimOptions {
  // Common to both roles.
  uint32_t requestValue = 0;         // payload of CMD_REQUEST
  uint32_t baud = 0;                 // line speed the emulator writes at; 0 = unpaced
  uint64_t timeoutMs = 60000;        // longest wait without progress
  uint64_t replyTimeoutMs = 1500;    // wait for one answer before asking again
  uint32_t attempts = 5;             // tries per request or block before it is a fault
  uint64_t idleBeforeRequestMs = 0;  // pause between the burst and CMD_REQUEST
  uint32_t holdMs = 0;               // USB adapter latency timer on bytes sent; 0 = none
  bool blockRequestBeforeRequest = false;
  bool finishBeforeRequest = false;   // download: CMD_FINISH right after the burst, no request
  bool hangupAfterRequest = false;    // close the port as the tool answers the first request
  uint32_t repeatAnswer = 0;          // upload: the answer to the N-th block request goes twice
  uint32_t requestAtBlock = 0;        // upload: a stray CMD_REQUEST before the N-th block's answer
  std::optional<uint32_t> claimSize;  // upload: the size answered, whatever is served
  uint32_t garbageBytes = 0;          // answer the burst with this many bytes that form no frame
  std::optional<uint32_t> silenceAfterBlocks;
  std::optional<uint32_t> hangupAfterBlocks;
  bool trace = false;
  FaultOptions faults;

  // Download role: the tool sends to the emulator.
  DownloadMode mode = DownloadMode::Software;
  std::optional<uint64_t> size;  // software mode: bytes to fetch
  std::string expectPath;        // compare what arrived with this file
  std::string savePath;          // write what arrived here
  uint32_t blockSize = 1024;     // bytes asked for per block request
  bool pastEnd = false;          // end with a request beyond the data

  // Upload role: the tool reads from the emulator.
  std::string servePath;
};

}  // namespace kestal::sim

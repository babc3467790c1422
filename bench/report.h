#pragma once
// The benchmark's table, in Markdown, with the machine it ran on.
#include <string>

#include "bench/lrzsz_reference.h"
#include "bench/packing.h"
#include "bench/runs.h"

namespace kestal::bench {

// nproc, CPU model, kernel and date.
std::string DescribeMachine();

struct Report {
  PacedResult pacedDownload;
  PacedResult pacedUpload;
  UnpacedResult software, channels, upload;
  size_t softwareBytes = 0, channelsBytes = 0, uploadBytes = 0;
  LrzszResult lrzszSenderOnSlave, lrzszSenderOnMaster;
  bool lrzszAvailable = false;
  double rawPtyMBps = 0;  // the same 64 MB through a pseudo-terminal pair, no protocol
  double lockStepPtyMBps = 0;  // the same 64 MB, one bare request and answer per 16 KB block
  PackingResult packCompressible, packRandom;
  WindowResult window;
  bool windowBuilt = false;
  std::string machine;

  std::string Markdown() const;
  // The paced rows alone (kestal-bench paced).
  std::string PacedMarkdown() const;
};

}  // namespace kestal::bench

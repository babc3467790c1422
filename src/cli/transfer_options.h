#pragma once
// What `kestal-cli send` and `kestal-cli receive` were asked to do.
#include <string>

#include "transfer/transfer_request.h"

namespace kestal::cli {

// How progress is shown: Auto is a bar on a terminal and a plain line every 10 % or 5 s
// otherwise; Plain forces the plain lines; Json writes one JSON object per line on stdout.
enum class ProgressStyle { Auto, Plain, Json };

struct TransferOptions {
  std::string port;  // device path or a discovered port's name
  std::string file;
  int mode = MODE_SOFTWARE;
  int direction = DIR_TO_RECEIVER;
  double timeoutSeconds = 0;  // bound on the wait for the receiver's first request; 0 = none
  bool trace = false;
  ProgressStyle progress = ProgressStyle::Auto;
  bool quiet = false;         // stderr gets errors only
  bool waitingShown = false;  // "Waiting For Request..." was printed before the port opened
  std::string recordPath;     // --record: where the session's recording goes; empty = none
};

// The mode the window picks for a file named on its command line: a name ending exactly in
// "fdu" or "FDU" is a channel list, anything else a software image.
int ModeFromFileName(const std::string& path);

}  // namespace kestal::cli

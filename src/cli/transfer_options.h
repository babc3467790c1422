#pragma once
// What `kestal-cli send` and `kestal-cli receive` were asked to do.
#include <string>

#include "transfer/transfer_request.h"

namespace kestal::cli {

struct TransferOptions {
  std::string port;  // device path or a discovered port's name
  std::string file;
  int mode = MODE_SOFTWARE;
  int direction = DIR_TO_RECEIVER;
  double timeoutSeconds = 0;  // bound on the wait for the receiver's first request; 0 = none
  bool trace = false;
};

// The mode the window picks for a file named on its command line: a name ending exactly in
// "fdu" or "FDU" is a channel list, anything else a software image.
int ModeFromFileName(const std::string& path);

}  // namespace kestal::cli

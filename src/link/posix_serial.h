#pragma once
// The termios side of SerialLink: opening a port exclusively in raw 8N1, and the reader
// thread's priority.
#include <cstdint>
#include <string>

#include "link/link.h"

namespace kestal::posix {

// Opens `path` for non-blocking reads and writes, held exclusively (an advisory lock, which
// also stops root and this very process, then TIOCEXCL), raw binary-transparent 8N1 at `baud`,
// both directions flushed, low latency asked of the driver where it offers it. On Ok `fd`
// holds the descriptor; otherwise nothing is left open.
OpenResult OpenExclusiveRawPort(const std::string& path, uint32_t baud, int& fd);

// Releases what OpenExclusiveRawPort took and closes the descriptor.
void CloseExclusivePort(int fd);

// Raises the calling thread a little above its siblings; quietly does nothing without privilege.
void RaiseCurrentThreadPriority();

}  // namespace kestal::posix

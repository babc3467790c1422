#pragma once
// The termios side of SerialLink: opening a port exclusively in raw 8N1, and the reader
// thread's priority.
#include <cstdint>
#include <string>

namespace kestal::posix {

// Opens `path` for non-blocking reads and writes, held exclusively (an advisory lock, which
// also stops root and this very process, then TIOCEXCL), raw binary-transparent 8N1 at `baud`,
// both directions flushed. Returns the descriptor, or -1 with nothing left open.
int OpenExclusiveRawPort(const std::string& path, uint32_t baud);

// Releases what OpenExclusiveRawPort took and closes the descriptor.
void CloseExclusivePort(int fd);

// Raises the calling thread a little above its siblings; quietly does nothing without privilege.
void RaiseCurrentThreadPriority();

}  // namespace kestal::posix

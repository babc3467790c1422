#pragma once
// Every POSIX program calls this first thing in main(). Started with any of fds 0-2 closed, the
// program's own descriptors (a port, a pipe) would take those numbers and its status lines
// would be written into them. (The Windows C runtime gives 0-2 to the console or to nothing,
// never away.)
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace kestal {

inline void OpenMissingStdStreams() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // open() takes the lowest free number, which is `fd` itself: every lower one is open.
    const int opened = open("/dev/null", O_RDWR);
    if (opened != fd && opened >= 0) close(opened);
  }
}

}  // namespace kestal

#include "support/raw_pty.h"

#include <fcntl.h>
#include <pty.h>
#include <termios.h>

#include <climits>

namespace kestal::testing {

bool OpenRawPty(int& master, int& slave, std::string& device) {
  char name[PATH_MAX] = {};
  master = slave = -1;
  if (openpty(&master, &slave, name, nullptr, nullptr) != 0) return false;
  termios tio{};
  tcgetattr(slave, &tio);
  cfmakeraw(&tio);
  tcsetattr(slave, TCSANOW, &tio);
  fcntl(master, F_SETFD, FD_CLOEXEC);
  fcntl(slave, F_SETFD, FD_CLOEXEC);
  device = name;
  return true;
}

}  // namespace kestal::testing

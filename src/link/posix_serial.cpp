#include "link/posix_serial.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

namespace kestal::posix {

namespace {

bool BaudToSpeed(uint32_t baud, speed_t& speed) {
  struct Rate {
    uint32_t baud;
    speed_t speed;
  };
  static constexpr Rate kRates[] = {{1200, B1200},      {2400, B2400},     {4800, B4800},
                                    {9600, B9600},      {19200, B19200},   {38400, B38400},
                                    {57600, B57600},    {115200, B115200}, {230400, B230400},
                                    {460800, B460800},  {500000, B500000}, {921600, B921600},
                                    {1000000, B1000000}};
  for (const Rate& rate : kRates) {
    if (rate.baud == baud) {
      speed = rate.speed;
      return true;
    }
  }
  return false;
}

OpenResult ResultOf(int err) {
  switch (err) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
      return OpenResult::NoSuchDevice;
    case EACCES:
    case EPERM:
      return OpenResult::PermissionDenied;
    case EBUSY:
      return OpenResult::Busy;  // TIOCEXCL set by another holder
    case ENOTTY:
      return OpenResult::NotSerial;
    default:
      return OpenResult::Failed;
  }
}

constexpr tcflag_t Flags(tcflag_t bits) { return bits; }

// Raw and binary-transparent: no echo, no CR/LF translation, no software flow control (XON and
// XOFF are ordinary data bytes here), no hardware handshake (receivers use three-wire cables),
// modem lines ignored, reads return at once with whatever is buffered.
bool ConfigureRaw8N1(int fd, uint32_t baud) {
  speed_t speed = 0;
  if (!BaudToSpeed(baud, speed)) return false;
  termios tio{};
  if (tcgetattr(fd, &tio) != 0) return false;
  cfmakeraw(&tio);
  tio.c_iflag &= ~Flags(IXON | IXOFF | IXANY);
  tio.c_cflag &= ~Flags(CSIZE | PARENB | CSTOPB | CRTSCTS);
  tio.c_cflag |= Flags(CS8 | CLOCAL | CREAD);
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 0;
  if (cfsetispeed(&tio, speed) != 0 || cfsetospeed(&tio, speed) != 0) return false;
  return tcsetattr(fd, TCSANOW, &tio) == 0;
}

// USB serial adapters hold received bytes up to their latency timer (16 ms by default) before
// handing them on, and a receiver that asks for every block would wait that long each time.
// Drivers that can shorten it (ftdi_sio, ...) offer ASYNC_LOW_LATENCY; a pseudo-terminal or a
// driver without it refuses the ioctl, and the port works as before.
void RequestLowLatency(int fd) {
  serial_struct serial{};
  if (::ioctl(fd, TIOCGSERIAL, &serial) != 0 || (serial.flags & ASYNC_LOW_LATENCY) != 0) return;
  serial.flags |= ASYNC_LOW_LATENCY;
  (void)::ioctl(fd, TIOCSSERIAL, &serial);
}

}  // namespace

OpenResult OpenExclusiveRawPort(const std::string& path, uint32_t baud, int& fd) {
  fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return ResultOf(errno);
  // The lock comes first and is what really keeps a second user out: TIOCEXCL does not stop
  // root, nor this process when it runs as root.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int err = errno;
    ::close(fd);
    fd = -1;
    return err == EWOULDBLOCK ? OpenResult::Busy : ResultOf(err);
  }
  errno = 0;
  if (::ioctl(fd, TIOCEXCL) != 0 || !ConfigureRaw8N1(fd, baud) || ::tcflush(fd, TCIOFLUSH) != 0) {
    const int err = errno;
    CloseExclusivePort(fd);
    fd = -1;
    return ResultOf(err);
  }
  RequestLowLatency(fd);
  return OpenResult::Ok;
}

void CloseExclusivePort(int fd) {
  if (fd < 0) return;
  // The exclusive flag belongs to the tty, not to this descriptor: clear it so the port can be
  // opened again while someone else still holds it open.
  (void)::ioctl(fd, TIOCNXCL);
  ::close(fd);  // also drops the advisory lock
}

void RaiseCurrentThreadPriority() {
  const auto tid = static_cast<id_t>(::gettid());
  errno = 0;
  const int nice = ::getpriority(PRIO_PROCESS, tid);
  if (errno == 0) (void)::setpriority(PRIO_PROCESS, tid, nice - 2);
}

}  // namespace kestal::posix

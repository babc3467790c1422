// The file checks on POSIX. The named file itself is opened for them, so the kernel's rules on
// following symbolic links apply exactly as they will when the data is written.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

#include "common/printable.h"
#include "transfer/input_check.h"

namespace kestal {
namespace {

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// The kernel's protected-symlinks rule, kept whatever the system's setting: in a sticky folder
// that anyone may write to (/tmp), a link is followed only for its owner or when the folder's
// owner made it. Otherwise another user could aim our write at any file we may write.
bool PlantedByAnother(const struct stat& link, const std::string& folder) {
  struct stat info {};
  if (::stat(folder.c_str(), &info) != 0) return true;
  const bool shared = (info.st_mode & S_ISVTX) != 0 && (info.st_mode & S_IWOTH) != 0;
  return shared && link.st_uid != ::geteuid() && link.st_uid != info.st_uid;
}

// The folder must take the temporary file that becomes the target.
bool FolderTakesFiles(const std::string& path, std::string& why) {
  const std::string folder = FolderOf(path);
  struct stat info {};
  if (::stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
    why = CannotWrite(path, "folder " + Printable(folder) + " does not exist");
    return false;
  }
  if (::access(folder.c_str(), W_OK | X_OK) != 0) {
    why = CannotWrite(path, "folder " + Printable(folder) + " is not writable");
    return false;
  }
  return true;
}

// Where the open descriptor leads, links followed: the file a rename must replace.
std::string PathOf(int fd) {
  char resolved[PATH_MAX];
  const std::string link = "/proc/self/fd/" + std::to_string(fd);
  const ssize_t length = ::readlink(link.c_str(), resolved, sizeof resolved - 1);
  return length > 0 ? std::string(resolved, static_cast<size_t>(length)) : std::string();
}

}  // namespace

std::optional<std::string> WhyNotReadable(const std::string& path) {
  const auto cannotRead = [&path](const std::string& reason) {
    return "Cannot read " + Printable(path) + ": " + reason;
  };
  // Non-blocking, so that a FIFO named as the file cannot hang the check.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return cannotRead(std::strerror(errno));
  struct stat info {};
  const bool regular = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
  ::close(fd);
  if (!regular) return cannotRead("not a regular file");
  return std::nullopt;
}

std::string ResolveReceiveTarget(const std::string& target, std::string& why) {
  struct stat link {};
  if (::lstat(target.c_str(), &link) != 0) {
    if (errno != ENOENT) {
      why = CannotWrite(target, std::strerror(errno));
      return {};
    }
    return FolderTakesFiles(target, why) ? target : std::string();
  }
  const bool isLink = S_ISLNK(link.st_mode);
  if (isLink && PlantedByAnother(link, FolderOf(target))) {
    why = CannotWrite(target, "a symbolic link that another user made in a shared folder");
    return {};
  }
  const int fd = ::open(target.c_str(), O_PATH | O_CLOEXEC);
  if (fd < 0) {
    why =
        CannotWrite(target, errno == ENOENT ? "a symbolic link to nothing" : std::strerror(errno));
    return {};
  }
  struct stat info {};
  const bool known = ::fstat(fd, &info) == 0;
  const std::string resolved = isLink ? PathOf(fd) : target;
  ::close(fd);
  if (!known || resolved.empty()) {
    why = CannotWrite(target, "it cannot be examined");
  } else if (S_ISDIR(info.st_mode)) {
    why = CannotWrite(target, "it is a folder");
  } else if (!S_ISREG(info.st_mode)) {
    why = CannotWrite(target, "not a regular file");
  } else if ((info.st_mode & 0222) == 0 || ::access(resolved.c_str(), W_OK) != 0) {
    why = CannotWrite(target, "the file is read-only");
  } else if (FolderTakesFiles(resolved, why)) {
    return resolved;
  }
  return {};
}

}  // namespace kestal

// The virtual port registry: a private per-user directory of symbolic links, one per virtual
// port, each naming the terminal device that carries it.
#include "ports/virtual_ports.h"

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "ports/directory_listing.h"
#include "ports/port_strategies.h"

namespace kestal {
namespace {

namespace fs = std::filesystem;

std::string SystemError(const std::string& what, const std::string& path, int err) {
  return what + " " + path + ": " + std::strerror(err);
}

// Another user able to write here could plant a link to a terminal of their own.
bool IsPrivate(const struct stat& st) {
  return S_ISDIR(st.st_mode) && st.st_uid == geteuid() && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

// Tabs and line breaks would break the one-line-per-port listings.
bool IsValidLinkName(const std::string& name) {
  if (name.empty() || name.front() == '.') return false;
  for (const char c : name) {
    if (c == '/' || static_cast<unsigned char>(c) < 0x20) return false;
  }
  return true;
}

// Creates `dir` and its missing parents with mode 0700; an existing `dir` must be ours.
std::string MakePrivateDirectory(const fs::path& dir) {
  fs::path partial;
  for (const fs::path& component : dir) {
    partial /= component;
    if (mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST) {
      return SystemError("Could not create", partial.string(), errno);
    }
  }
  struct stat st {};
  if (lstat(dir.c_str(), &st) != 0) return SystemError("Could not read", dir.string(), errno);
  if (!S_ISDIR(st.st_mode) || st.st_uid != geteuid()) {
    return "Virtual port directory " + dir.string() + " is not private.";
  }
  if (!IsPrivate(st) && chmod(dir.c_str(), 0700) != 0) {
    return SystemError("Could not protect", dir.string(), errno);
  }
  return {};
}

bool Later(const timespec& a, const timespec& b) {
  return a.tv_sec != b.tv_sec ? a.tv_sec > b.tv_sec : a.tv_nsec > b.tv_nsec;
}

// What a registry link still announces: nothing when its device is gone or when the device
// came into being after the link (a terminal handed out again once the emulator that made the
// link had ended without removing it, killed say); otherwise the device's status.
bool LiveDevice(const fs::path& link, struct stat& device) {
  struct stat linkStat {};
  if (lstat(link.c_str(), &linkStat) != 0 || !S_ISLNK(linkStat.st_mode)) return false;
  if (stat(link.c_str(), &device) != 0) return false;
  return !Later(device.st_ctim, linkStat.st_mtim);
}

// Removes the links that announce nothing any more, so they neither pile up nor slow
// discovery down. Only links: anything else in the directory is left alone.
void SweepDeadLinks(const fs::path& dir) {
  std::vector<std::string> names;
  (void)ListEntryNames(dir.string(), names);  // an unreadable directory has nothing to sweep
  for (const std::string& name : names) {
    const fs::path link = dir / name;
    std::error_code ec;
    struct stat device {};
    if (fs::is_symlink(link, ec) && !LiveDevice(link, device)) unlink(link.c_str());
  }
}

// A name no other registration uses, hidden from discovery by its leading dot.
fs::path TemporaryLinkPath(const fs::path& dir, const std::string& name) {
  static std::atomic<unsigned> counter{0};
  return dir / ("." + name + "." + std::to_string(getpid()) + "." + std::to_string(counter++));
}

}  // namespace

std::string VirtualPortDirectory() {
  const char* runtimeDir = std::getenv("XDG_RUNTIME_DIR");
  std::error_code ec;
  if (runtimeDir != nullptr && runtimeDir[0] == '/' && fs::is_directory(runtimeDir, ec)) {
    return (fs::path(runtimeDir) / "kestal" / "ports").string();
  }
  return "/tmp/kestal-" + std::to_string(getuid()) + "/ports";
}

std::string RegisterVirtualPort(const std::string& name, const std::string& devicePath,
                                std::string* error) {
  const auto fail = [error](const std::string& text) {
    if (error != nullptr) *error = text;
    return std::string();
  };
  if (!IsValidLinkName(name)) return fail("Invalid virtual port name \"" + name + "\".");
  if (devicePath.empty()) return fail("No device given for virtual port " + name + ".");

  const fs::path dir = VirtualPortDirectory();
  if (std::string problem = MakePrivateDirectory(dir); !problem.empty()) return fail(problem);
  SweepDeadLinks(dir);

  // Link under a temporary name, then rename over: readers never see a half-made link, and
  // re-registering a name replaces the old target in one step.
  std::error_code ec;
  const fs::path target = fs::absolute(devicePath, ec);
  const fs::path link = dir / name;
  const fs::path temporary = TemporaryLinkPath(dir, name);
  if (ec) return fail(SystemError("Could not resolve", devicePath, ec.value()));
  if (symlink(target.c_str(), temporary.c_str()) != 0) {
    return fail(SystemError("Could not create", temporary.string(), errno));
  }
  if (rename(temporary.c_str(), link.c_str()) != 0) {
    const int err = errno;
    unlink(temporary.c_str());
    return fail(SystemError("Could not create", link.string(), err));
  }
  return link.string();
}

void UnregisterVirtualPort(const std::string& linkPath, const std::string& devicePath) {
  // Only our own link is ours to remove: never a file that happens to carry the name, nor the
  // link of an emulator started with the same name while this one was ending.
  std::error_code ec;
  if (fs::is_symlink(linkPath, ec) &&
      fs::read_symlink(linkPath, ec) == fs::absolute(devicePath, ec)) {
    unlink(linkPath.c_str());
  }
}

std::string EnumerateVirtualPorts(PortList& list, const std::string& virtualPortDir) {
  struct stat dirStat {};
  if (lstat(virtualPortDir.c_str(), &dirStat) != 0) {
    if (errno == ENOENT) return {};  // nothing registered yet
    return UnreadableText(virtualPortDir, errno);
  }
  if (!S_ISDIR(dirStat.st_mode) && !S_ISLNK(dirStat.st_mode)) {
    return UnreadableText(virtualPortDir, ENOTDIR);
  }
  if (!IsPrivate(dirStat)) return "Virtual port directory " + virtualPortDir + " is not private.";

  std::vector<std::string> names;
  if (std::string error = ListEntryNames(virtualPortDir, names); !error.empty()) return error;
  for (const std::string& name : names) {
    const fs::path link = fs::path(virtualPortDir) / name;
    struct stat targetStat {};
    // Links of emulators that have ended, and non-terminals, are passed over.
    if (!LiveDevice(link, targetStat) || !S_ISCHR(targetStat.st_mode)) continue;
    std::error_code ec;
    const fs::path device = fs::canonical(link, ec);
    if (ec) continue;

    PortInfo record;
    record.devicePath = device.string();
    record.portName = name;
    record.friendlyName = "Virtual Port (" + name + ")";
    record.virtualPort = true;
    list.push_back(std::move(record));
  }
  return {};
}

}  // namespace kestal

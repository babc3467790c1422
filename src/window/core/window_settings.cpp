#include "window/core/window_settings.h"

#include "transfer/transfer_request.h"

namespace kestal::window {
namespace {

constexpr const char* kPortValue = "port";
constexpr const char* kModeValue = "mode";

const char* FileValueFor(int mode) {
  if (mode == MODE_SOFTWARE) return "softfile";
  if (mode == MODE_CHANNELS) return "chfile";
  return nullptr;
}

}  // namespace

bool WindowSettings::OpenOrCreate() {
  if (!store_.Problem().empty()) return false;
  if (store_.Exists()) return true;
  store_.Create();
  return false;
}

std::string WindowSettings::Port() const { return store_.Text(kPortValue).value_or(""); }

int WindowSettings::Mode() const {
  return store_.Number(kModeValue) == MODE_CHANNELS ? MODE_CHANNELS : MODE_SOFTWARE;
}

std::string WindowSettings::FileFor(int mode) const {
  const char* name = FileValueFor(mode);
  return name ? store_.Text(name).value_or("") : std::string();
}

void WindowSettings::SetPort(const std::string& friendlyName) {
  store_.SetText(kPortValue, friendlyName);
}

void WindowSettings::SetMode(int mode) {
  if (mode == MODE_SOFTWARE || mode == MODE_CHANNELS)
    store_.SetNumber(kModeValue, static_cast<uint32_t>(mode));
}

void WindowSettings::SetFileFor(int mode, const std::string& path) {
  if (const char* name = FileValueFor(mode)) store_.SetText(name, path);
}

}  // namespace kestal::window

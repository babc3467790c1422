#pragma once
// What the window keeps between runs and which stored values it believes: the last port, the
// last mode and the last file of each mode. A value that is missing, of another kind or out of
// range is ignored (the default stands) and is not written back until the user chooses anew.
#include <string>

#include "window/core/settings_store.h"

namespace kestal::window {

class WindowSettings {
 public:
  explicit WindowSettings(SettingsStore& store) : store_(store) {}

  // Why the store is not used (printed, never shown in a box); empty when it is fine.
  std::string Problem() const { return store_.Problem(); }
  // Whether the values may be read; a first start makes the (empty) store.
  bool OpenOrCreate();

  // The friendly name of the last port chosen; empty when none is stored.
  std::string Port() const;
  // MODE_CHANNELS only when that is stored; anything else is MODE_SOFTWARE.
  int Mode() const;
  // The last file of `mode`; empty when none is stored or `mode` is no mode.
  std::string FileFor(int mode) const;

  void SetPort(const std::string& friendlyName);
  void SetMode(int mode);  // only MODE_SOFTWARE and MODE_CHANNELS are ever written
  void SetFileFor(int mode, const std::string& path);

 private:
  SettingsStore& store_;
};

}  // namespace kestal::window

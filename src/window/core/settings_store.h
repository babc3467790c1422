#pragma once
// Where the window keeps the user's choices between runs: an INI file on Linux, the registry
// on Windows (one implementation per platform, chosen by file in CMake). What is stored, and
// which stored values are believed, is decided above this seam; a store only keeps named texts
// and numbers, and never throws.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace kestal::window {

class SettingsStore {
 public:
  virtual ~SettingsStore() = default;

  // The store is there and may be read: the key opens, or the file is a readable regular file
  // of a sensible size.
  virtual bool Exists() const = 0;
  // Why something found at the store's place is not used; empty when it is used or absent.
  virtual std::string Problem() const = 0;
  // Makes the store, empty; one that exists is left as it is.
  virtual void Create() = 0;

  // nullopt when the value is absent, unreadable or of another kind. Texts are UTF-8.
  virtual std::optional<std::string> Text(const std::string& name) const = 0;
  virtual std::optional<int64_t> Number(const std::string& name) const = 0;
  // Nothing is written while the store does not exist, nor a value that is already stored.
  virtual void SetText(const std::string& name, const std::string& value) = 0;
  virtual void SetNumber(const std::string& name, uint32_t value) = 0;
};

// The current user's store: <config home>/ostrel/pelmar.conf ([General]) on Linux,
// HKEY_CURRENT_USER\SOFTWARE\ostrel\pelmar\General on Windows.
std::unique_ptr<SettingsStore> OpenUserSettings();

}  // namespace kestal::window

#pragma once
// SettingsKey: one event's handle on a per-user settings key. A key path such as
// "SOFTWARE\ostrel\pelmar\General" is the INI file <config home>/ostrel/pelmar.conf, section
// [General]; the key exists exactly when that file exists.
#include <cstdint>
#include <memory>
#include <string>

class QSettings;

namespace kestal {

enum class SettingsRoot {
  CurrentUser,   // $XDG_CONFIG_HOME, default ~/.config
  LocalMachine,  // first of $XDG_CONFIG_DIRS, default /etc/xdg
};

// Value kinds recorded in m_dwType, numbered as the registry numbers them.
constexpr uint32_t SETTINGS_TYPE_NONE = 0;
constexpr uint32_t SETTINGS_TYPE_STRING = 1;
constexpr uint32_t SETTINGS_TYPE_DWORD = 4;

// Result codes recorded in m_lResult (0 = success).
constexpr int32_t SETTINGS_OK = 0;
constexpr int32_t SETTINGS_NOT_FOUND = 2;
constexpr int32_t SETTINGS_ACCESS_DENIED = 5;
constexpr int32_t SETTINGS_BAD_PATH = 161;
constexpr int32_t SETTINGS_CORRUPT = 1010;
constexpr int32_t SETTINGS_NOT_OPEN = 6;

class SettingsKey {
 public:
  explicit SettingsKey(SettingsRoot root = SettingsRoot::CurrentUser);
  ~SettingsKey();
  SettingsKey(const SettingsKey&) = delete;
  SettingsKey& operator=(const SettingsKey&) = delete;

  // Opens an existing key; never creates one.
  bool Open(SettingsRoot root, const std::string& subKey);
  // Opens the key, creating its file (empty) and directories when missing.
  bool Create(SettingsRoot root, const std::string& subKey);
  void Close();

  bool SetDword(const std::string& name, uint32_t value);
  bool SetString(const std::string& name, const std::string& value);
  // On failure the output is left untouched.
  bool GetDword(const std::string& name, uint32_t& value);
  bool GetString(const std::string& name, std::string& value);

  bool IsOpen() const { return m_hKey != nullptr; }
  // The file that holds `subKey` under `root`; empty when the path names no file.
  static std::string KeyFile(SettingsRoot root, const std::string& subKey);

  int32_t m_lResult = SETTINGS_OK;
  uint32_t m_dwType = SETTINGS_TYPE_NONE;
  uint32_t m_dwSize = 0;
  SettingsRoot m_root;
  std::unique_ptr<QSettings> m_hKey;  // the open key, null when closed
  std::string m_strSubKey;

 private:
  bool Attach(const std::string& file, const std::string& subKey);
  bool Finish(int32_t result);
  std::string m_strSection;  // empty: the file's [General] section
};

}  // namespace kestal

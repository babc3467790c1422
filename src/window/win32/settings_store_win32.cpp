// The window's settings in the registry, under HKEY_CURRENT_USER\SOFTWARE\ostrel\pelmar\General:
// texts as REG_SZ, numbers as REG_DWORD. Each call opens the key afresh and closes it again.
// The key is made persistent: a volatile one would take the user's settings with it at every
// logoff.
#include <windows.h>

#include "common/utf16.h"
#include "common/windows_error.h"
#include "window/core/settings_store.h"

namespace kestal::window {
namespace {

constexpr wchar_t kKeyPath[] = L"SOFTWARE\\ostrel\\pelmar\\General";
constexpr char kKeyName[] = "HKEY_CURRENT_USER\\SOFTWARE\\ostrel\\pelmar\\General";
// Longer than any path Windows opens: a text this long is not ours, and is not read whole.
constexpr DWORD kMaxTextBytes = 32768 * sizeof(wchar_t);

// The settings key, open for as long as the object lives.
class Key {
 public:
  explicit Key(REGSAM access)
      : result_(RegOpenKeyExW(HKEY_CURRENT_USER, kKeyPath, 0, access, &key_)) {}
  ~Key() {
    if (IsOpen()) RegCloseKey(key_);
  }
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;

  bool IsOpen() const { return result_ == ERROR_SUCCESS; }
  LONG Result() const { return result_; }
  HKEY Handle() const { return key_; }

 private:
  HKEY key_ = nullptr;
  const LONG result_;
};

bool IsMissing(LONG result) {
  return result == ERROR_FILE_NOT_FOUND || result == ERROR_PATH_NOT_FOUND;
}

// A REG_SZ value up to its first NUL, stored with its terminator or without.
std::optional<std::wstring> ReadText(HKEY key, const std::wstring& name) {
  for (int attempt = 0; attempt < 3; ++attempt) {  // someone may change it between the calls
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExW(key, name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        type != REG_SZ || size > kMaxTextBytes)
      return std::nullopt;
    std::wstring text(size / sizeof(wchar_t) + 1, L'\0');
    DWORD got = size;
    const LONG result = RegQueryValueExW(key, name.c_str(), nullptr, &type,
                                         reinterpret_cast<BYTE*>(text.data()), &got);
    if (result == ERROR_MORE_DATA) continue;
    if (result != ERROR_SUCCESS || type != REG_SZ) return std::nullopt;
    text.resize(got / sizeof(wchar_t));
    return text.substr(0, text.find(L'\0'));
  }
  return std::nullopt;
}

std::optional<DWORD> ReadNumber(HKEY key, const std::wstring& name) {
  DWORD type = 0;
  DWORD value = 0;
  DWORD size = sizeof value;
  if (RegQueryValueExW(key, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) !=
          ERROR_SUCCESS ||
      type != REG_DWORD || size != sizeof value)
    return std::nullopt;
  return value;
}

class RegistrySettings : public SettingsStore {
 public:
  bool Exists() const override { return Key(KEY_READ).IsOpen(); }

  std::string Problem() const override {
    const Key key(KEY_READ);
    if (key.IsOpen() || IsMissing(key.Result())) return {};
    return std::string("Settings: cannot open ") + kKeyName + ": " +
           SystemMessage(static_cast<DWORD>(key.Result())) + "; using defaults.";
  }

  void Create() override {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kKeyPath, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_READ,
                        nullptr, &key, nullptr) == ERROR_SUCCESS)
      RegCloseKey(key);
  }

  std::optional<std::string> Text(const std::string& name) const override {
    const Key key(KEY_QUERY_VALUE);
    if (!key.IsOpen()) return std::nullopt;
    const std::optional<std::wstring> text = ReadText(key.Handle(), Utf8ToWide(name));
    if (!text) return std::nullopt;
    return WideToUtf8(*text);
  }

  std::optional<int64_t> Number(const std::string& name) const override {
    const Key key(KEY_QUERY_VALUE);
    if (!key.IsOpen()) return std::nullopt;
    return ReadNumber(key.Handle(), Utf8ToWide(name));
  }

  void SetText(const std::string& name, const std::string& value) override {
    const Key key(KEY_QUERY_VALUE | KEY_SET_VALUE);
    const std::wstring wideName = Utf8ToWide(name);
    const std::wstring text = Utf8ToWide(value);
    if (!key.IsOpen() || ReadText(key.Handle(), wideName) == text) return;
    RegSetValueExW(key.Handle(), wideName.c_str(), 0, REG_SZ,
                   reinterpret_cast<const BYTE*>(text.c_str()),
                   static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
  }

  void SetNumber(const std::string& name, uint32_t value) override {
    const Key key(KEY_QUERY_VALUE | KEY_SET_VALUE);
    const std::wstring wideName = Utf8ToWide(name);
    if (!key.IsOpen() || ReadNumber(key.Handle(), wideName) == value) return;
    const DWORD stored = value;
    RegSetValueExW(key.Handle(), wideName.c_str(), 0, REG_DWORD,
                   reinterpret_cast<const BYTE*>(&stored), sizeof stored);
  }
};

}  // namespace

std::unique_ptr<SettingsStore> OpenUserSettings() { return std::make_unique<RegistrySettings>(); }

}  // namespace kestal::window

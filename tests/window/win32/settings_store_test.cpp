// The registry settings store under Wine, in the phases scripts/test-windows.sh sets up:
//   absent   the key is missing: nothing is read or written until Create; then values round
//            trip (Unicode, longer than MAX_PATH);
//   planted1, planted2
//            values of the wrong kind or size, planted with `wine reg` and here, read as
//            absent; numbers out of the window's range read as they are; writing replaces a
//            value of the wrong kind.
#include <windows.h>
// After windows.h, which it needs.
#include <sddl.h>

#include <string>

#include "check.h"
#include "window/core/settings_store.h"
#include "window/win32/command_line.h"

namespace {

using kestal::window::OpenUserSettings;
using kestal::window::SettingsStore;

constexpr wchar_t kKeyPath[] = L"SOFTWARE\\ostrel\\pelmar\\General";

bool KeyOpens(const wchar_t* path) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

// Writes a value as no well-behaved program would, for the cases `wine reg` cannot make.
void PlantRaw(const wchar_t* name, DWORD type, const void* data, DWORD size) {
  HKEY key = nullptr;
  RegOpenKeyExW(HKEY_CURRENT_USER, kKeyPath, 0, KEY_SET_VALUE, &key);
  RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), size);
  RegCloseKey(key);
}

DWORD StoredType(const wchar_t* name) {
  HKEY key = nullptr;
  DWORD type = REG_NONE;
  RegOpenKeyExW(HKEY_CURRENT_USER, kKeyPath, 0, KEY_QUERY_VALUE, &key);
  RegQueryValueExW(key, name, nullptr, &type, nullptr, nullptr);
  RegCloseKey(key);
  return type;
}

// The key's access list, in the security descriptor language: "D:P" lets nobody in. Its
// owner may always change the list.
void SetAccess(const wchar_t* descriptor) {
  HKEY key = nullptr;
  PSECURITY_DESCRIPTOR security = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, kKeyPath, 0, WRITE_DAC, &key) != ERROR_SUCCESS) return;
  if (ConvertStringSecurityDescriptorToSecurityDescriptorW(descriptor, SDDL_REVISION_1, &security,
                                                           nullptr)) {
    RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, security);
    LocalFree(security);
  }
  RegCloseKey(key);
}
constexpr wchar_t kEveryoneMayAll[] = L"D:(A;OICI;KA;;;WD)";

void Locked(SettingsStore& store) {
  store.Create();
  store.SetText("port", "COM7");
  SetAccess(L"D:P(A;;KR;;;WD)");  // read only
  CHECK(store.Exists());
  CHECK(store.Problem().empty());
  store.SetText("port", "COM8");
  store.SetNumber("mode", 1);
  CHECK(store.Text("port") == "COM7");
  CHECK(!store.Number("mode"));

  SetAccess(L"D:P");
  CHECK(!store.Exists());
  CHECK_MSG(store.Problem().ends_with("; using defaults."), store.Problem());
  store.Create();
  store.SetText("port", "COM8");
  CHECK(!store.Text("port"));
  SetAccess(kEveryoneMayAll);
  CHECK(store.Text("port") == "COM7");
  SetAccess(L"D:P");
}

void Absent(SettingsStore& store) {
  SetAccess(kEveryoneMayAll);  // a run that stopped half-way may have left the key locked
  RegDeleteTreeW(HKEY_CURRENT_USER, L"SOFTWARE\\ostrel");
  CHECK(!store.Exists());
  CHECK(store.Problem().empty());
  CHECK(!store.Text("port"));
  CHECK(!store.Number("mode"));
  store.SetText("port", "COM5");
  store.SetNumber("mode", 1);
  CHECK_MSG(!KeyOpens(L"SOFTWARE\\ostrel"), "a write made the key");

  store.Create();
  CHECK(store.Exists());
  CHECK(store.Problem().empty());
  CHECK(!store.Text("port"));
  CHECK(!store.Number("mode"));

  const std::string port = "Communications Port (COM5)";
  const std::string unicode =
      "C:\\Users\\J\xC3\xBCrgen\\\xD0\x9F\xD1\x80\xD0\xBE\\r\xC3\xBC"
      "cken \xED\x95\x9C.ird";
  const std::string longPath = "C:\\" + std::string(300, 'd') + "\\list.fdu";
  store.SetText("port", port);
  store.SetNumber("mode", 1);
  store.SetText("softfile", unicode);
  store.SetText("chfile", longPath);
  CHECK(store.Text("port") == port);
  CHECK(store.Number("mode") == 1);
  CHECK_MSG(store.Text("softfile") == unicode, store.Text("softfile").value_or("(absent)"));
  CHECK(store.Text("chfile") == longPath);
  CHECK(StoredType(L"mode") == REG_DWORD);
  CHECK(StoredType(L"port") == REG_SZ);

  store.Create();  // a key that exists keeps its values
  CHECK(store.Text("port") == port);
}

// `wine reg` planted: port REG_DWORD, mode REG_SZ "1", softfile REG_EXPAND_SZ, chfile
// REG_MULTI_SZ.
void Planted1(SettingsStore& store) {
  CHECK(store.Exists());
  CHECK(!store.Text("port"));
  CHECK(!store.Number("mode"));
  CHECK(!store.Text("softfile"));
  CHECK(!store.Text("chfile"));

  // What only a program can plant: a number of two bytes, a text without its terminator or
  // with text after it, a text far longer than any path.
  const WORD shortNumber = 1;
  PlantRaw(L"mode", REG_DWORD, &shortNumber, sizeof shortNumber);
  CHECK(!store.Number("mode"));
  const wchar_t unterminated[] = {L'C', L'O', L'M', L'7'};
  PlantRaw(L"port", REG_SZ, unterminated, sizeof unterminated);
  CHECK(store.Text("port") == "COM7");
  const wchar_t twoTexts[] = L"COM8\0COM9";
  PlantRaw(L"port", REG_SZ, twoTexts, sizeof twoTexts);
  CHECK(store.Text("port") == "COM8");
  PlantRaw(L"port", REG_SZ, "odd", 3);  // an odd number of bytes
  CHECK(store.Text("port").has_value());
  const std::wstring huge(40000, L'x');
  PlantRaw(L"softfile", REG_SZ, huge.c_str(), static_cast<DWORD>((huge.size() + 1) * 2));
  CHECK(!store.Text("softfile"));

  // Writing replaces a value of the wrong kind with one of the right kind.
  store.SetNumber("mode", 1);
  CHECK(StoredType(L"mode") == REG_DWORD);
  CHECK(store.Number("mode") == 1);
  store.SetText("chfile", "C:\\lists\\a.fdu");
  CHECK(StoredType(L"chfile") == REG_SZ);
  CHECK(store.Text("chfile") == "C:\\lists\\a.fdu");
}

// `wine reg` planted: mode REG_DWORD 4294967295, port REG_SZ "", softfile REG_BINARY,
// chfile REG_QWORD.
void Planted2(SettingsStore& store) {
  CHECK_MSG(store.Number("mode") == 4294967295LL, "not read as the unsigned number stored");
  CHECK(store.Text("port") == "");
  CHECK(!store.Text("softfile"));
  CHECK(!store.Text("chfile"));
  const DWORD seven = 7;
  PlantRaw(L"mode", REG_DWORD, &seven, sizeof seven);
  CHECK(store.Number("mode") == 7);
  PlantRaw(L"mode", REG_DWORD_BIG_ENDIAN, &seven, sizeof seven);
  CHECK(!store.Number("mode"));
}

}  // namespace

int main() {
  const std::vector<std::string> arguments = kestal::win32::CommandLineArguments();
  const std::string phase = arguments.empty() ? "" : arguments[0];
  const auto store = OpenUserSettings();
  if (phase == "absent") {
    Absent(*store);
  } else if (phase == "planted1") {
    Planted1(*store);
  } else if (phase == "planted2") {
    Planted2(*store);
  } else if (phase == "locked") {
    Locked(*store);
  } else if (phase == "unlock") {
    SetAccess(kEveryoneMayAll);
  } else {
    std::fprintf(stderr, "usage: kestal-settings-test absent|planted1|planted2|locked|unlock\n");
    return 2;
  }
  return kestal::test::Failures();
}

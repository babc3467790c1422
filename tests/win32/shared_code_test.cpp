// What the Wine rows cannot see of the code both Windows programs share: NUL is no terminal, a
// long name takes the form that lifts MAX_PATH, a new file may go into a drive's root, and a
// port is found by every spelling Windows accepts for it.
#include <windows.h>

#include <cstdio>

#include "check.h"
#include "cli/terminal.h"
#include "common/utf16.h"
#include "ports/port_discovery.h"
#include "transfer/input_check.h"

int main() {
  std::FILE* nul = _wfopen(L"NUL", L"w");
  CHECK(nul != nullptr && !kestal::cli::IsTerminal(nul));

  using kestal::WideFileName;
  const std::string name(300, 'n');
  const std::wstring wide(name.begin(), name.end());
  CHECK(WideFileName("C:/k/../k/x.fdu") == L"C:/k/../k/x.fdu");  // short: as given
  CHECK(WideFileName("C:/k/x/../" + name) == L"\\\\?\\C:\\k\\" + wide);
  CHECK(WideFileName("\\\\server\\share\\" + name) == L"\\\\?\\UNC\\server\\share\\" + wide);
  CHECK(WideFileName("\\\\?\\C:\\" + name) == L"\\\\?\\C:\\" + wide);

  std::string why;  // a new target's folder: a drive's root, a share
  CHECK(kestal::ResolveReceiveTarget("C:\\t.fdu", why) == "C:\\t.fdu");
  CHECK(kestal::ResolveReceiveTarget("\\\\nowhere\\share\\t.fdu", why).empty());

  const auto port = [](const char* portName, const char* friendlyName) {
    kestal::PortInfo record;
    record.devicePath = record.portName = portName;
    record.friendlyName = friendlyName;
    return record;
  };
  const kestal::PortList ports = {port("COM5", "Communications Port (COM5)"),
                                  port("CNCA0", "Virtueller Anschluss Ä")};
  for (const char* spelling : {"com5", "\\\\.\\COM5", "\\\\?\\com5", "communications port (com5)"})
    CHECK_MSG(kestal::FindPort(ports, spelling) == &ports[0], spelling);
  CHECK(kestal::FindPort(ports, "VIRTUELLER ANSCHLUSS ä") == &ports[1]);
  CHECK(kestal::FindPort(ports, "COM50") == nullptr);
  return kestal::test::Failures();
}

#include "window/win32/shell_notices.h"

#include <dbt.h>
#include <shellapi.h>

#include "common/utf16.h"

namespace kestal::win32 {

std::vector<std::string> TakeDroppedFiles(HDROP drop) {
  std::vector<std::string> paths;
  const UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
  for (UINT index = 0; index < count; ++index) {
    std::wstring path(DragQueryFileW(drop, index, nullptr, 0) + 1, L'\0');
    path.resize(DragQueryFileW(drop, index, path.data(), static_cast<UINT>(path.size())));
    paths.push_back(WideToUtf8(path));
  }
  DragFinish(drop);
  return paths;
}

bool MayChangePorts(WPARAM event, LPARAM data) {
  if (event == DBT_DEVNODES_CHANGED) return true;
  if (event != DBT_DEVICEARRIVAL && event != DBT_DEVICEREMOVECOMPLETE) return false;
  const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(data);
  return header && (header->dbch_devicetype == DBT_DEVTYP_PORT ||
                    header->dbch_devicetype == DBT_DEVTYP_DEVICEINTERFACE);
}

}  // namespace kestal::win32

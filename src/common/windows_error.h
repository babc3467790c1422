#pragma once
// Windows only: the system's own text for an error code, as one UTF-8 line.
#include <windows.h>

#include <string>

#include "common/utf16.h"

namespace kestal {

// Without its trailing full stop and line break, so that it reads inside a sentence of ours;
// "error N" where the system has no text for the code.
inline std::string SystemMessage(DWORD code) {
  wchar_t* text = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring message(text ? text : L"", length);
  LocalFree(text);
  while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' ||
                              message.back() == L'.' || message.back() == L' ')) {
    message.pop_back();
  }
  if (message.empty()) return "error " + std::to_string(code);
  return WideToUtf8(message);
}

}  // namespace kestal

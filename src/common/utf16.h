#pragma once
// UTF-8 text (what the program keeps inside) as the UTF-16 that the Windows wide API takes, so
// that any name works. Windows only.
#include <windows.h>

#include <string>

namespace kestal {

// Empty for text that is not valid UTF-8.
inline std::wstring Widen(const std::string& text) {
  const int size = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.c_str(), -1, nullptr, 0);
  if (size <= 0) return {};
  std::wstring wide(static_cast<size_t>(size), L'\0');
  MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.c_str(), -1, wide.data(), size);
  wide.resize(static_cast<size_t>(size - 1));
  return wide;
}

}  // namespace kestal

#pragma once
// Windows only: text is UTF-8 inside the program and UTF-16 at the wide API, so that any name
// works; file names also in the form that lifts MAX_PATH.
#include <windows.h>

#include <string>
#include <string_view>

namespace kestal {

// Empty for text that is not valid UTF-8: a name that cannot be meant opens nothing.
inline std::wstring Utf8ToWide(std::string_view text) {
  if (text.empty()) return {};
  const int size = static_cast<int>(text.size());
  const int length =
      MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
  if (length <= 0) return {};
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, wide.data(), length);
  return wide;
}

inline std::string WideToUtf8(std::wstring_view text) {
  if (text.empty()) return {};
  const int size = static_cast<int>(text.size());
  const int length =
      WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
  std::string narrow(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), size, narrow.data(), length, nullptr, nullptr);
  return narrow;
}

// A file's name for the wide file API. A full path of MAX_PATH characters or more is given in
// the \\?\ form, which lifts that limit on every Windows whatever its settings; that form takes
// no "/", "." or "..", and the full path has none left.
inline std::wstring WideFileName(std::string_view path) {
  const std::wstring wide = Utf8ToWide(path);
  const DWORD size = wide.empty() ? 0 : GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  if (size <= MAX_PATH) return wide;  // the size counts the terminating NUL
  std::wstring full(size, L'\0');
  const DWORD length = GetFullPathNameW(wide.c_str(), size, full.data(), nullptr);
  if (length == 0 || length >= size) return wide;
  full.resize(length);
  if (full.starts_with(L"\\\\?\\") || full.starts_with(L"\\\\.\\")) return full;
  if (full.starts_with(L"\\\\")) return L"\\\\?\\UNC\\" + full.substr(2);
  return L"\\\\?\\" + full;
}

}  // namespace kestal

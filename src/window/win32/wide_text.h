#pragma once
// Text crosses into Windows as UTF-16 and comes back as UTF-8, the program's text inside.
// Invalid sequences either way become U+FFFD: a name is shown, never dropped.
#include <string>
#include <string_view>

namespace kestal::win32 {

std::wstring Utf8ToWide(std::string_view text);
std::string WideToUtf8(std::wstring_view text);

}  // namespace kestal::win32

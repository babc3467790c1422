#pragma once
// What the window needs to know of a file before a transfer: can it be read, how big is it.
#include <QString>

namespace kestal {

bool FileReadable(const QString& path);
// The size in bytes, 0 when the file system reports nothing. Sizes beyond the job's signed
// 32-bit field are kept at its maximum, so they read as too big, never as a wrapped small size.
int FileSizeOf(const QString& path);

}  // namespace kestal

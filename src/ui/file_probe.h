#pragma once
// Whether the window can read a file it is given (dropped, or named on the command line).
#include <QString>

namespace kestal::ui {

bool FileReadable(const QString& path);

}  // namespace kestal::ui

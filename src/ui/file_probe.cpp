#include "ui/file_probe.h"

#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <limits>

namespace kestal {

bool FileReadable(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly);
}

int FileSizeOf(const QString& path) {
  const QFileInfo info(path);
  if (!info.isFile()) return 0;
  return static_cast<int>(std::min<qint64>(info.size(), std::numeric_limits<int>::max()));
}

}  // namespace kestal

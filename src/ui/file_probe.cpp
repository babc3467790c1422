#include "ui/file_probe.h"

#include <QFile>

namespace kestal::ui {

bool FileReadable(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly);
}

}  // namespace kestal::ui

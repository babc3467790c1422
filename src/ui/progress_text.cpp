#include "ui/progress_text.h"

namespace kestal::ui {
namespace {

constexpr double kKilo = 1024.0;
constexpr double kMega = 1024.0 * 1024.0;

QString Size(double bytes) {
  if (bytes < kKilo) return QStringLiteral("%1 B").arg(static_cast<qint64>(bytes));
  if (bytes < kMega) return QStringLiteral("%1 KB").arg(static_cast<qint64>(bytes / kKilo));
  return QStringLiteral("%1 MB").arg(bytes / kMega, 0, 'f', 1);
}

QString Duration(double seconds) {
  const qint64 whole = static_cast<qint64>(seconds + 0.5);
  return QStringLiteral("%1:%2").arg(whole / 60).arg(whole % 60, 2, 10, QLatin1Char('0'));
}

}  // namespace

QString ProgressText(uint64_t bytesDone, uint64_t bytesTotal, double seconds) {
  if (bytesTotal == 0) return {};
  const double done = static_cast<double>(bytesDone);
  QString text = QStringLiteral("%1 of %2").arg(Size(done), Size(static_cast<double>(bytesTotal)));
  if (bytesDone == 0 || seconds <= 0) return text;
  const double rate = done / seconds;
  const double left = static_cast<double>(bytesTotal > bytesDone ? bytesTotal - bytesDone : 0);
  return text +
         QStringLiteral(" \u00b7 %1/s \u00b7 %2 left").arg(Size(rate), Duration(left / rate));
}

}  // namespace kestal::ui

#include "window/qt/dialog_units.h"

#include <QFontMetrics>

namespace kestal::window::qt {

DialogUnits::DialogUnits(const QFont& font) {
  const QFontMetrics metrics(font);
  // The average over the 52 Latin letters, rounded, as dialog units have always used.
  const int letters = metrics.horizontalAdvance(
      QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  charWidth_ = (letters / 26 + 1) / 2;
  lineHeight_ = metrics.height();
}

QRect DialogUnits::ToPixels(const DialogRect& r) const {
  const int left = ToPixelsX(r.x);
  const int top = ToPixelsY(r.y);
  // Edges are converted, not sizes, so neighbouring controls never overlap by rounding.
  return QRect(QPoint(left, top),
               QPoint(ToPixelsX(r.x + r.width) - 1, ToPixelsY(r.y + r.height) - 1));
}

}  // namespace kestal::window::qt

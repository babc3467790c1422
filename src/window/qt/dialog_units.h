#pragma once
// Dialog units: a layout measured in a font's average character width (x / 4) and line
// height (y / 8), so a window keeps its proportions at any font size.
#include <QFont>
#include <QRect>
#include <QSize>

namespace kestal::window::qt {

struct DialogRect {
  int x, y, width, height;
};

class DialogUnits {
 public:
  explicit DialogUnits(const QFont& font);

  int ToPixelsX(int dluX) const { return dluX * charWidth_ / 4; }
  int ToPixelsY(int dluY) const { return dluY * lineHeight_ / 8; }
  QRect ToPixels(const DialogRect& r) const;
  QSize ToPixels(int width, int height) const { return {ToPixelsX(width), ToPixelsY(height)}; }

  int CharWidth() const { return charWidth_; }
  int LineHeight() const { return lineHeight_; }

 private:
  int charWidth_;  // rounded average width of the Latin letters
  int lineHeight_;
};

}  // namespace kestal::window::qt

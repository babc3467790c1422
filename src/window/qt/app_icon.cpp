#include "window/qt/app_icon.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace kestal::window::qt {
namespace {

// Drawn on a 32 x 32 design grid and scaled to `size`.
QPixmap DrawDish(int size) {
  QPixmap pixmap(size, size);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.scale(size / 32.0, size / 32.0);

  // Stand and foot.
  painter.setPen(QPen(QColor(70, 70, 80), 2.5, Qt::SolidLine, Qt::RoundCap));
  painter.drawLine(QPointF(14, 18), QPointF(11, 29));
  painter.drawLine(QPointF(6, 29), QPointF(18, 29));

  // The dish: a bowl opening towards the upper right.
  painter.save();
  painter.translate(14, 16);
  painter.rotate(-45);
  QPainterPath bowl;
  bowl.moveTo(-12, 0);
  bowl.cubicTo(-12, 10, 12, 10, 12, 0);
  bowl.closeSubpath();
  painter.setPen(QPen(QColor(40, 60, 110), 1.5));
  painter.setBrush(QColor(170, 190, 225));
  painter.drawPath(bowl);
  // Feed arm and receiver head in front of the dish.
  painter.setPen(QPen(QColor(40, 60, 110), 1.5, Qt::SolidLine, Qt::RoundCap));
  painter.drawLine(QPointF(0, 5), QPointF(0, -9));
  painter.setBrush(QColor(220, 60, 50));
  painter.drawEllipse(QPointF(0, -10), 2.2, 2.2);
  painter.restore();

  // Signal waves.
  painter.setBrush(Qt::NoBrush);
  painter.setPen(QPen(QColor(230, 140, 30), 1.6, Qt::SolidLine, Qt::RoundCap));
  painter.drawArc(QRectF(18, 1, 12, 12), 0 * 16, 90 * 16);
  painter.drawArc(QRectF(14, -3, 20, 20), 10 * 16, 70 * 16);
  return pixmap;
}

}  // namespace

QIcon MakeAppIcon() {
  QIcon icon;
  for (int size : {16, 24, 32, 48, 64}) icon.addPixmap(DrawDish(size));
  return icon;
}

}  // namespace kestal::window::qt

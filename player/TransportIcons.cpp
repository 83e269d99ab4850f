#include "TransportIcons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace {

QPixmap Draw(TransportPicture picture, const QColor& ink) {
  QPixmap pix(24, 18);
  pix.fill(Qt::transparent);
  QPainter p(&pix);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(Qt::NoPen);
  p.setBrush(ink);
  auto triangle = [&](qreal x0, qreal x1, qreal top, qreal bottom) {
    QPainterPath path;
    path.moveTo(x0, top);
    path.lineTo(x1, (top + bottom) / 2);
    path.lineTo(x0, bottom);
    path.closeSubpath();
    p.drawPath(path);
  };
  switch (picture) {
    case TransportPicture::kPlay:
      triangle(7, 18, 2, 16);
      break;
    case TransportPicture::kPause:
      p.drawRect(QRectF(6, 2, 4, 14));
      p.drawRect(QRectF(14, 2, 4, 14));
      break;
    case TransportPicture::kStop:
      p.drawRect(QRectF(6, 3, 12, 12));
      break;
    case TransportPicture::kPrevious:
      p.drawRect(QRectF(4, 3, 3, 12));
      triangle(14, 7, 3, 15);
      triangle(21, 14, 3, 15);
      break;
    case TransportPicture::kNext:
      triangle(3, 10, 3, 15);
      triangle(10, 17, 3, 15);
      p.drawRect(QRectF(17, 3, 3, 12));
      break;
    case TransportPicture::kClose: {
      QPainterPath path;  // eject: a roof over a bar
      path.moveTo(12, 2);
      path.lineTo(20, 11);
      path.lineTo(4, 11);
      path.closeSubpath();
      p.drawPath(path);
      p.drawRect(QRectF(4, 13, 16, 3));
      break;
    }
  }
  return pix;
}

}  // namespace

QIcon TransportIcon(TransportPicture picture) {
  QIcon icon;
  icon.addPixmap(Draw(picture, QColor(0, 96, 0)), QIcon::Normal);
  icon.addPixmap(Draw(picture, QColor(128, 128, 128)), QIcon::Disabled);
  return icon;
}

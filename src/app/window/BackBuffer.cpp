#include "window/BackBuffer.h"

#include <QPainter>

#include "skin/SkinImages.h"
#include "window/WindowLayout.h"

namespace zel::app {

std::array<QRect, 4> PresentBands(const QRect& client, const QRect& video) {
  const QRect hole = video.intersected(client);
  if (hole.isEmpty()) return {client, QRect(), QRect(), QRect()};
  return {
      QRect(QPoint(client.left(), client.top()), QPoint(client.right(), hole.top() - 1)),
      QRect(QPoint(client.left(), hole.top()), QPoint(hole.left() - 1, hole.bottom())),
      QRect(QPoint(hole.right() + 1, hole.top()), QPoint(client.right(), hole.bottom())),
      QRect(QPoint(client.left(), hole.bottom() + 1), QPoint(client.right(), client.bottom())),
  };
}

BackBuffer::BackBuffer(qreal devicePixelRatio)
    : devicePixelRatio_(devicePixelRatio), pixmap_(kClientSize * devicePixelRatio) {
  pixmap_.setDevicePixelRatio(devicePixelRatio);
  paintImage(QRect(QPoint(0, 0), kClientSize), SkinImage::kBackground);
}

const QPixmap& BackBuffer::image(int imageId) {
  auto it = images_.find(imageId);
  if (it == images_.end()) it = images_.insert(imageId, LoadSkinImage(imageId, devicePixelRatio_));
  return *it;
}

void BackBuffer::paintImage(const QRect& rect, int imageId) {
  QPainter painter(&pixmap_);
  painter.drawPixmap(rect, image(imageId));
}

void BackBuffer::present(QPainter& window, const QRect& video) const {
  for (const QRect& band : PresentBands(QRect(QPoint(0, 0), kClientSize), video)) {
    // the source rectangle counts the pixmap's own pixels
    const qreal ratio = pixmap_.devicePixelRatio();
    if (!band.isEmpty())
      window.drawPixmap(
          QRectF(band), pixmap_,
          QRectF(band.x() * ratio, band.y() * ratio, band.width() * ratio, band.height() * ratio));
  }
}

}  // namespace zel::app

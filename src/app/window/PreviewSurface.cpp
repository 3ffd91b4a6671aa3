#include "window/PreviewSurface.h"

#include <QPainter>

#include "source/PreviewSource.h"
#include "window/WindowLayout.h"

namespace zel::app {

PreviewSurface::PreviewSurface(QWidget* window) : QWidget(window) {
  setObjectName("1111");
  setAttribute(Qt::WA_OpaquePaintEvent);
  hide();
}

void PreviewSurface::ShowPreviewFrame(const PreviewFrame& frame) {
  if (frame.pixels == nullptr || frame.width <= 0 || frame.height <= 0) return;
  picture_ =
      QImage(frame.pixels, frame.width, frame.height, frame.bytesPerLine, QImage::Format_RGB32)
          .copy();
  update();
}

std::optional<QRect> PreviewSurface::layOut(PreviewSource& preview, int adjustframe) {
  const std::optional<VideoRect> video =
      preview.LayoutVideoWindow(kPreviewArea.width(), kPreviewArea.height(), adjustframe);
  if (!video || video->width() <= 0 || video->height() <= 0) {
    hide();
    return std::nullopt;
  }
  const QRect rect = QRect(video->left, video->top, video->width(), video->height())
                         .translated(kPreviewArea.topLeft());
  setGeometry(rect);
  show();
  return rect;
}

void PreviewSurface::clear() {
  picture_ = QImage();
  hide();
}

void PreviewSurface::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  if (picture_.isNull()) {
    painter.fillRect(rect(), Qt::black);
    return;
  }
  // delivered at this size; scaled only for the moment between a new layout
  // and the picture that follows it
  painter.drawImage(rect(), picture_);
}

}  // namespace zel::app

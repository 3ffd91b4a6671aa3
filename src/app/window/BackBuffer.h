// The picture of the whole client area. Everything the window shows except
// the preview video is drawn here first (background, button faces, position
// bar, status lines) and then copied to the window: that copy is Present.
#pragma once

#include <QHash>
#include <QPixmap>
#include <QRect>
#include <array>

class QPainter;

namespace zel::app {

// The four bands of the client area that Present copies around the video
// rectangle: the full width above it, the parts left and right of it, the
// full width below it. They cover the client area but the video rectangle,
// without overlapping; an empty video rectangle leaves the above and below
// bands to cover everything. The video rectangle is clipped to the client area.
std::array<QRect, 4> PresentBands(const QRect& client, const QRect& video);

class BackBuffer {
 public:
  // Filled with the window background (image 258). devicePixelRatio 2 takes
  // the double-size renderings of the skin.
  explicit BackBuffer(qreal devicePixelRatio);

  // Copies a skin image into the buffer; the image is as large as rect.
  void paintImage(const QRect& rect, int imageId);
  // The image of an id, loaded once.
  const QPixmap& image(int imageId);

  // Paints the buffer onto the window, everything but video (window
  // coordinates; an empty rectangle when no video is shown).
  void present(QPainter& window, const QRect& video) const;

  QPixmap& pixmap() { return pixmap_; }
  const QPixmap& pixmap() const { return pixmap_; }

 private:
  qreal devicePixelRatio_;
  QPixmap pixmap_;
  QHash<int, QPixmap> images_;
};

}  // namespace zel::app

// The preview video: a child of the window at the video rectangle inside the
// preview area, showing the last picture the preview source delivered.
#pragma once

#include <QImage>
#include <QWidget>
#include <optional>

#include "source/PreviewFrame.h"

namespace zel {
class PreviewSource;
}

namespace zel::app {

class PreviewSurface final : public QWidget, public PreviewSink {
  Q_OBJECT

 public:
  explicit PreviewSurface(QWidget* window);

  // Copies the picture (its pixels are the source's only during the call)
  // and shows it.
  void ShowPreviewFrame(const PreviewFrame& frame) override;

  // Places the surface where the preview source lays the picture out in the
  // preview area (adjustframe 1 stretches it over the area), and answers that
  // rectangle in window coordinates; hidden, and no rectangle, when the
  // source has no video open.
  std::optional<QRect> layOut(PreviewSource& preview, int adjustframe);

  // Forgets the picture and hides.
  void clear();

  const QImage& picture() const { return picture_; }

 protected:
  void paintEvent(QPaintEvent*) override;

 private:
  QImage picture_;
};

}  // namespace zel::app

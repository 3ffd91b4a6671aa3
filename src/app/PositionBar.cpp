#include "PositionBar.h"

#include <QMouseEvent>
#include <QPainter>

#include "skin/SkinImages.h"

namespace zel::app {

PositionBar::PositionBar(QWidget* parent)
    : QWidget(parent),
      background_(LoadSkinImage(SkinImage::kBarBackground)),
      range_(LoadSkinImage(SkinImage::kBarRange)),
      played_(LoadSkinImage(SkinImage::kBarPlayed)),
      startMark_(LoadSkinImage(SkinImage::kBarStartMark)),
      endMark_(LoadSkinImage(SkinImage::kBarEndMark)),
      cursor_(LoadSkinImage(SkinImage::kBarCursor)) {
  setFixedSize(kWidth, kHeight);
  // Every pixel comes from the strips.
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void PositionBar::setState(const BarInput& input) {
  if (input == input_) return;
  input_ = input;
  update();
}

void PositionBar::setCursorMs(std::int64_t cursorMs) {
  BarInput input = input_;
  input.cursorMs = cursorMs;
  setState(input);
}

void PositionBar::setPlaying(bool playing) {
  BarInput input = input_;
  input.playing = playing;
  setState(input);
}

std::optional<std::int64_t> PositionBar::dragCursorMs(int stepMs) const {
  if (!dragging_) return std::nullopt;
  return DragCursorMs(pointerX_, width(), input_.durationHns, stepMs);
}

void PositionBar::paintEvent(QPaintEvent*) {
  const BarGeometry bar = ComputeBarGeometry(width(), height(), input_);
  QPainter painter(this);
  // Each strip is one pixel wide, stretched sideways over its band (the
  // cursor's also squeezed to the band's height), without smoothing.
  const auto stretch = [&](const BarBand& band, const QPixmap& strip) {
    if (band.width > 0 && band.height > 0)
      painter.drawPixmap(QRect(band.left, band.top, band.width, band.height), strip);
  };
  stretch(bar.background, background_);
  stretch(bar.range, range_);
  stretch(bar.played, played_);
  stretch(bar.startMark, startMark_);
  stretch(bar.endMark, endMark_);
  stretch(bar.cursor, cursor_);
}

void PositionBar::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return QWidget::mousePressEvent(event);
  // Until the release, Qt hands this widget every move and the release
  // itself, wherever the pointer goes (the implicit grab of a press).
  pointerX_ = event->position().toPoint().x();
  dragging_ = true;
  event->accept();
  emit pressed();
}

void PositionBar::mouseMoveEvent(QMouseEvent* event) {
  if (dragging_) {
    pointerX_ = event->position().toPoint().x();
    // A release that never reached us (the grab taken by a popup).
    if (!(event->buttons() & Qt::LeftButton)) dragging_ = false;
  }
  QWidget::mouseMoveEvent(event);
}

void PositionBar::mouseReleaseEvent(QMouseEvent* event) {
  if (dragging_ && event->button() == Qt::LeftButton) {
    pointerX_ = event->position().toPoint().x();
    emit released();
    dragging_ = false;
  }
  QWidget::mouseReleaseEvent(event);
}

void PositionBar::hideEvent(QHideEvent* event) {
  dragging_ = false;
  QWidget::hideEvent(event);
}

}  // namespace zel::app

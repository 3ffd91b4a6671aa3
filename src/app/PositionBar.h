// The position bar under the preview: the marked range, the start and end
// marks, the cursor and, while playing, the played part, drawn from the six
// 1 x 16 strips of the skin. It knows no media source: the window hands it
// plain values and asks it where a drag has got to, at the press, at its
// 100 ms Tick and at the release.
#pragma once

#include <QPixmap>
#include <QWidget>
#include <cstdint>
#include <optional>

#include "CursorArithmetic.h"

namespace zel::app {

class PositionBar : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kWidth = 770;
  static constexpr int kHeight = 16;

  explicit PositionBar(QWidget* parent = nullptr);

  // What the bar shows: the duration and the marks in 100-ns units (as
  // MarkedRange holds them), the cursor in milliseconds. Repaints only when
  // something changed.
  void setState(const BarInput& input);
  const BarInput& state() const { return input_; }
  void setCursorMs(std::int64_t cursorMs);
  void setPlaying(bool playing);

  // A drag lasts from a left press on the bar to the release of the button,
  // wherever the pointer is by then (the bar holds the mouse meanwhile).
  bool dragging() const { return dragging_; }
  // The pointer's last x in the bar's coordinates; it may lie outside the bar.
  int pointerX() const { return pointerX_; }
  // While dragging, the cursor under the pointer (DragCursorMs with the
  // bar's duration); nothing otherwise.
  std::optional<std::int64_t> dragCursorMs(int stepMs) const;

  QSize sizeHint() const override { return {kWidth, kHeight}; }

 signals:
  // A drag has begun: the cursor goes to the press at once, so that even a
  // click shorter than a Tick moves it.
  void pressed();
  // The button is let go; dragCursorMs still answers for where it was let go.
  void released();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  BarInput input_;
  bool dragging_ = false;
  int pointerX_ = 0;
  QPixmap background_, range_, played_, startMark_, endMark_, cursor_;
};

}  // namespace zel::app

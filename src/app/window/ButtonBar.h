// The window's thirteen bitmap buttons. Each shows its normal face, and its
// pressed face while held down; its caption is never drawn but is its
// tooltip. Playing stands in Play's place while the preview plays, Abort in
// Convert's while a conversion runs. The back buffer carries the face of
// every button in its place as well, so that presenting it never shows a
// wrong face.
#pragma once

#include <QAbstractButton>
#include <QObject>
#include <QPixmap>
#include <map>

#include "window/WindowLayout.h"

namespace zel::app {

class BackBuffer;

class SkinButton final : public QAbstractButton {
  Q_OBJECT

 public:
  SkinButton(const ButtonPlace& place, QPixmap normal, QPixmap pressed, QWidget* parent);
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent*) override;

 private:
  QPixmap normal_, pressed_;
};

class ButtonBar final : public QObject {
  Q_OBJECT

 public:
  // Makes the buttons as children of window and paints their normal faces
  // into the back buffer. Playing and Abort start hidden.
  ButtonBar(QWidget* window, BackBuffer& backBuffer);

  SkinButton* button(int id) const;

  // Play or Playing; back to Play paints Play's normal face.
  void showPlaying(bool playing);
  // Convert or Abort, with Convert's pressed face in the back buffer while
  // converting and its normal face after, and the label under it naming
  // the button shown.
  void showConverting(bool converting);

 signals:
  // A button was clicked: its id.
  void command(int id);

 private:
  BackBuffer& backBuffer_;
  std::map<int, SkinButton*> buttons_;
};

}  // namespace zel::app

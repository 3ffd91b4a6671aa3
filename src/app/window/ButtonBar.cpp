#include "window/ButtonBar.h"

#include <QPainter>

#include "skin/SkinImages.h"
#include "window/BackBuffer.h"

namespace zel::app {

SkinButton::SkinButton(const ButtonPlace& place, QPixmap normal, QPixmap pressed, QWidget* parent)
    : QAbstractButton(parent), normal_(std::move(normal)), pressed_(std::move(pressed)) {
  setObjectName(QString::number(place.id));
  setText(QString::fromUtf8(place.caption));
  setToolTip(text());
  setGeometry(place.rect);
  // Keys belong to the window (Enter does nothing, the arrows step), so no
  // button takes the focus.
  setFocusPolicy(Qt::NoFocus);
  setAttribute(Qt::WA_OpaquePaintEvent);
}

QSize SkinButton::sizeHint() const { return normal_.deviceIndependentSize().toSize(); }

void SkinButton::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.drawPixmap(rect(), isDown() ? pressed_ : normal_);
}

ButtonBar::ButtonBar(QWidget* window, BackBuffer& backBuffer)
    : QObject(window), backBuffer_(backBuffer) {
  for (const ButtonPlace& place : ButtonPlaces()) {
    auto* b = new SkinButton(place, backBuffer.image(place.normal), backBuffer.image(place.pressed),
                             window);
    buttons_[place.id] = b;
    connect(b, &QAbstractButton::clicked, this, [this, id = place.id] { emit command(id); });
    if (place.id != kPlayingButton && place.id != kAbortButton) {
      backBuffer.paintImage(place.rect, place.normal);
    } else {
      b->hide();
    }
  }
  backBuffer.paintImage(kConvertLabelArea, SkinImage::kConvertLabel);
}

SkinButton* ButtonBar::button(int id) const {
  const auto it = buttons_.find(id);
  return it != buttons_.end() ? it->second : nullptr;
}

void ButtonBar::showPlaying(bool playing) {
  button(kPlayingButton)->setVisible(playing);
  button(kPlayButton)->setVisible(!playing);
  if (!playing) backBuffer_.paintImage(ButtonPlaceOf(kPlayButton).rect, SkinImage::kPlayNormal);
}

void ButtonBar::showConverting(bool converting) {
  button(kAbortButton)->setVisible(converting);
  button(kConvertButton)->setVisible(!converting);
  backBuffer_.paintImage(ButtonPlaceOf(kConvertButton).rect,
                         converting ? SkinImage::kConvertPressed : SkinImage::kConvertNormal);
  backBuffer_.paintImage(kConvertLabelArea,
                         converting ? SkinImage::kAbortLabel : SkinImage::kConvertLabel);
}

}  // namespace zel::app

// zel-skin-preview: lays the skin out as the window shows it, to look at the
// artwork without a file loaded. Writes into OUTDIR:
//   normal.png   every button in its normal face, a marked range on the bar
//                with the played part and the cursor, example status lines;
//   pressed.png  every button held down;
//   busy.png     playing and converting: Playing and Abort in place;
//   faces.png    every face enlarged three times, normal above pressed.
// Usage: zel-skin-preview OUTDIR [SCALE]   (SCALE 2 uses the @2x renderings)

#include <QApplication>
#include <QDir>
#include <QPainter>
#include <cstdio>
#include <vector>

#include "skin/SkinImages.h"
#include "window/StatusPainter.h"
#include "window/WindowLayout.h"

using namespace SkinImage;

namespace {

using zel::app::ButtonPlace;
using zel::app::ButtonPlaceOf;
using zel::app::kBarArea;
using zel::app::kStatusArea;
using Button = ButtonPlace;
const QRect kBar = kBarArea;

// The window's buttons in their places, Load first; Playing and Abort share
// Play's and Convert's places and are shown apart.
const std::vector<Button> kButtons = [] {
  std::vector<Button> buttons;
  for (const ButtonPlace& b : zel::app::ButtonPlaces())
    if (b.id != zel::app::kPlayingButton && b.id != zel::app::kAbortButton) buttons.push_back(b);
  return buttons;
}();
const Button kPlaying = ButtonPlaceOf(zel::app::kPlayingButton);
const Button kAbort = ButtonPlaceOf(zel::app::kAbortButton);

class Sheet {
 public:
  explicit Sheet(qreal scale)
      : scale_(scale), image_(QSize(799, 499) * scale, QImage::Format_RGB32) {
    image_.setDevicePixelRatio(scale);
    painter_.begin(&image_);
    painter_.drawPixmap(0, 0, Load(kBackground));
    Face(zel::app::kConvertLabelArea, kConvertLabel);  // Abort's when it is shown
  }
  QPixmap Load(int id) const { return LoadSkinImage(id, scale_); }
  void Face(const QRect& rect, int id) { painter_.drawPixmap(rect, Load(id)); }
  // A strip stretched over part of the bar, as the window draws it.
  void Strip(int id, int left, int width, int top = 0, int height = 16) {
    if (width > 0)
      painter_.drawPixmap(QRect(kBar.left() + left, kBar.top() + top, width, height), Load(id));
  }
  // Start mark at 20 %, end mark at 85 %, cursor at 55 %; played part while playing.
  void Bar(bool playing) {
    const int w = kBar.width(), xs = w * 20 / 100, xe = w * 85 / 100, xc = w * 55 / 100;
    Strip(kBarBackground, 0, w);
    Strip(kBarRange, xs, xe - xs);
    if (playing) Strip(kBarPlayed, xs, xc - xs);
    Strip(kBarStartMark, xs - 2, 4);
    Strip(kBarEndMark, xe - 2, 4);
    Strip(kBarCursor, xc - 1, 2, 2, 12);
  }
  void Status(const zel::app::StatusFacts& facts) {
    zel::app::StatusPainter(Load(kStatusBackground)).paint(painter_, facts);
  }
  bool Save(const QString& path) {
    painter_.end();
    return image_.save(path);
  }

 private:
  qreal scale_;
  QImage image_;
  QPainter painter_;
};

// VIDEO:29[fps] 320x240, AUDIO:44100[Hz] STEREO, 01:05.250 CURSOR 00:03.700,
// START 00:13.050 END 00:55.462
const zel::app::StatusFacts kStatusLines{true,  true, 29,          320,  240,         true,
                                         44100, 2,    652'500'000, 3700, 130'500'000, 554'620'000};

// Every face three times enlarged on the deck colour: normal row, pressed row.
bool SaveFaces(const QString& path, qreal scale) {
  const std::vector<Button> faces = [] {
    auto all = kButtons;
    all.push_back(kAbort);
    return all;
  }();
  const int zoom = 3, gap = 12;
  int width = gap, height = 0;
  for (const Button& b : faces) {
    width += b.rect.width() * zoom + gap;
    height = std::max(height, b.rect.height() * zoom);
  }
  // the load face is wide: give it a row of its own
  width -= faces[0].rect.width() * zoom + gap;
  QImage image(QSize(width, gap * 4 + height * 2 + faces[0].rect.height() * zoom * 2) * scale,
               QImage::Format_RGB32);
  image.setDevicePixelRatio(scale);
  image.fill(QColor(0x2a, 0x2e, 0x35));
  QPainter painter(&image);
  painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
  int x = gap, y = gap;
  const int loadHeight = faces[0].rect.height() * zoom;
  painter.drawPixmap(QRect(x, y, faces[0].rect.width() * zoom, loadHeight),
                     LoadSkinImage(faces[0].normal, scale));
  x += faces[0].rect.width() * zoom + gap;
  painter.drawPixmap(QRect(x, y, faces[0].rect.width() * zoom, loadHeight),
                     LoadSkinImage(faces[0].pressed, scale));
  y += loadHeight + gap;
  x = gap;
  for (std::size_t i = 1; i < faces.size(); ++i) {
    const QSize size = faces[i].rect.size() * zoom;
    painter.drawPixmap(QRect(QPoint(x, y), size), LoadSkinImage(faces[i].normal, scale));
    painter.drawPixmap(QRect(QPoint(x, y + height + gap), size),
                       LoadSkinImage(faces[i].pressed, scale));
    x += size.width() + gap;
  }
  painter.end();
  return image.save(path);
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc < 2) {
    std::fprintf(stderr, "usage: zel-skin-preview OUTDIR [SCALE]\n");
    return 2;
  }
  const QDir out(QString::fromLocal8Bit(argv[1]));
  const qreal scale = argc > 2 ? QString(argv[2]).toDouble() : 1.0;
  if (!QDir().mkpath(out.path()) || scale < 1.0) {
    std::fprintf(stderr, "zel-skin-preview: cannot write to %s at scale %s\n", argv[1],
                 argc > 2 ? argv[2] : "1");
    return 1;
  }

  bool ok = true;
  Sheet normal(scale);
  for (const Button& b : kButtons) normal.Face(b.rect, b.normal);
  normal.Bar(false);
  normal.Status(kStatusLines);
  ok &= normal.Save(out.filePath("normal.png"));

  Sheet pressed(scale);
  for (const Button& b : kButtons) pressed.Face(b.rect, b.pressed);
  pressed.Bar(false);
  pressed.Status(kStatusLines);
  ok &= pressed.Save(out.filePath("pressed.png"));

  Sheet busy(scale);
  for (const Button& b : kButtons) busy.Face(b.rect, b.normal);
  busy.Face(kPlaying.rect, kPlaying.normal);
  busy.Face(kAbort.rect, kAbort.normal);
  busy.Face(zel::app::kConvertLabelArea, kAbortLabel);
  busy.Bar(true);
  busy.Status(kStatusLines);
  ok &= busy.Save(out.filePath("busy.png"));

  ok &= SaveFaces(out.filePath("faces.png"), scale);
  if (!ok) std::fprintf(stderr, "zel-skin-preview: writing the sheets failed\n");
  return ok ? 0 : 1;
}

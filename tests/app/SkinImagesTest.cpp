// Every skin image loads at the size of the place the window draws it into
// (WindowLayout), its double-size rendering at twice that with device pixel
// ratio 2; faces and strips are opaque, pressed faces look pressed, and the
// bar strips stay apart.
#include <QtTest>
#include <cmath>
#include <map>

#include "skin/SkinImages.h"
#include "window/WindowLayout.h"

using namespace SkinImage;
using namespace zel::app;

namespace {

const int kStrips[] = {kBarBackground, kBarRange,   kBarPlayed,
                       kBarStartMark,  kBarEndMark, kBarCursor};

bool IsOpaque(const QPixmap& pixmap) {
  const QImage image = pixmap.toImage().convertToFormat(QImage::Format_ARGB32);
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x)
      if (qAlpha(image.pixel(x, y)) != 255) return false;
  return true;
}

// Mean difference of the colour channels, 0 to 255.
double MeanDifference(const QImage& a, const QImage& b) {
  double sum = 0;
  for (int y = 0; y < a.height(); ++y)
    for (int x = 0; x < a.width(); ++x) {
      const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
      sum += std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q)) +
             std::abs(qBlue(p) - qBlue(q));
    }
  return sum / (3.0 * a.width() * a.height());
}

}  // namespace

class SkinImagesTest : public QObject {
  Q_OBJECT

 private slots:
  void imagesFitTheirPlaces() {
    std::map<int, QSize> places = {{kBackground, kClientSize},
                                   {kStatusBackground, kStatusArea.size()}};
    for (int id : kStrips) places[id] = QSize(1, kBarArea.height());
    for (const ButtonPlace& b : ButtonPlaces())
      places[b.normal] = places[b.pressed] = b.rect.size();
    for (int id : SkinImageIds()) {
      QVERIFY2(places.count(id), qPrintable(QString("image %1 has no place").arg(id)));
      const QSize size = places[id];
      places.erase(id);
      const QPixmap single = LoadSkinImage(id, 1.0), dense = LoadSkinImage(id, 2.0);
      QCOMPARE(single.size(), size);
      QCOMPARE(single.devicePixelRatio(), 1.0);
      QCOMPARE(dense.size(), size * 2);
      QCOMPARE(dense.devicePixelRatio(), 2.0);
      QCOMPARE(dense.deviceIndependentSize().toSize(), size);
      QVERIFY(IsOpaque(single) && IsOpaque(dense));
    }
    QVERIFY2(places.empty(), "a place has no image");
    QVERIFY(SkinResourcePath(226).isEmpty());
    QVERIFY(LoadSkinImage(226, 1.0).isNull());
  }

  void pressedFacesLookPressed() {
    for (const ButtonPlace& b : ButtonPlaces()) {
      const double difference = MeanDifference(LoadSkinImage(b.normal, 1.0).toImage(),
                                               LoadSkinImage(b.pressed, 1.0).toImage());
      QVERIFY2(difference > 10,
               qPrintable(QString("faces of %1 differ by only %2").arg(b.caption).arg(difference)));
    }
  }

  // Each strip can meet each other one on the bar; their middles must stay apart.
  void barStripsAreTellApart() {
    for (int a : kStrips)
      for (int b : kStrips) {
        if (a >= b) continue;
        const QColor p = LoadSkinImage(a, 1.0).toImage().pixelColor(0, 8);
        const QColor q = LoadSkinImage(b, 1.0).toImage().pixelColor(0, 8);
        QVERIFY2(std::hypot(p.red() - q.red(), p.green() - q.green(), p.blue() - q.blue()) > 60,
                 qPrintable(QString("strips %1 and %2 are too alike").arg(a).arg(b)));
      }
  }

  void applicationIconHasSmallAndLargeSizes() {
    const QIcon icon = ApplicationIcon();
    for (int size : {16, 32, 256}) {
      QVERIFY(icon.availableSizes().contains(QSize(size, size)));
      QCOMPARE(icon.pixmap(QSize(size, size), 1.0).size(), QSize(size, size));
    }
  }
};

QTEST_MAIN(SkinImagesTest)
#include "SkinImagesTest.moc"

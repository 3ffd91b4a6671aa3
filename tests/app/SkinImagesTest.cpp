// Every skin image loads at the size of the place the window draws it into,
// its double-size rendering at twice that with device pixel ratio 2; faces and
// strips are opaque, pressed faces look pressed, and the bar strips stay apart.
#include <QtTest>
#include <cmath>
#include <map>

#include "skin/SkinImages.h"

using namespace SkinImage;

namespace {

struct Place {
  QSize size;
  std::initializer_list<int> ids;
};

// The window's places: button rectangles, the client area, the status area
// and the 1 x 16 strips of the bar.
const Place kPlaces[] = {
    {{197, 23}, {kLoadNormal, kLoadPressed}},
    {{52, 52}, {kPlayNormal, kPlayPressed}},
    {{36, 36},
     {kStopNormal, kStopPressed, kRewindNormal, kRewindPressed, kFastForwardNormal,
      kFastForwardPressed}},
    {{28, 28},
     {kStartMarkNormal, kStartMarkPressed, kEndMarkNormal, kEndMarkPressed, kCaptureNormal,
      kCapturePressed}},
    {{44, 30},
     {kConvertNormal, kConvertPressed, kAbortNormal, kAbortPressed, kSettingsNormal,
      kSettingsPressed, kHelpNormal, kHelpPressed}},
    {{799, 499}, {kBackground}},
    {{770, 56}, {kStatusBackground}},
    {{1, 16}, {kBarBackground, kBarPlayed, kBarStartMark, kBarEndMark, kBarRange, kBarCursor}},
};

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
  void imagesFitTheirPlaces_data() {
    std::map<int, QSize> sizeOf;
    for (const Place& place : kPlaces)
      for (int id : place.ids) sizeOf[id] = place.size;
    QTest::addColumn<int>("id");
    QTest::addColumn<QSize>("size");
    for (int id : SkinImageIds()) {
      QVERIFY2(sizeOf.count(id), qPrintable(QString("image %1 has no place").arg(id)));
      QTest::addRow("%d", id) << id << sizeOf[id];
      sizeOf.erase(id);
    }
    QVERIFY2(sizeOf.empty(), "a place has no image");
  }

  void imagesFitTheirPlaces() {
    QFETCH(int, id);
    QFETCH(QSize, size);
    const QPixmap single = LoadSkinImage(id, 1.0);
    QCOMPARE(single.size(), size);
    QCOMPARE(single.devicePixelRatio(), 1.0);
    QVERIFY(IsOpaque(single));
    const QPixmap dense = LoadSkinImage(id, 2.0);
    QCOMPARE(dense.size(), size * 2);
    QCOMPARE(dense.devicePixelRatio(), 2.0);
    QCOMPARE(dense.deviceIndependentSize().toSize(), size);
    QVERIFY(IsOpaque(dense));
  }

  void unknownIdsHaveNoImage() {
    QVERIFY(SkinResourcePath(226).isEmpty());
    QVERIFY(LoadSkinImage(226, 1.0).isNull());
    QCOMPARE(SkinResourcePath(kPlayNormal), QString(":/skin/button-play-normal.png"));
  }

  void pressedFacesLookPressed() {
    const std::pair<int, int> faces[] = {{kLoadNormal, kLoadPressed},
                                         {kPlayNormal, kPlayPressed},
                                         {kStopNormal, kStopPressed},
                                         {kRewindNormal, kRewindPressed},
                                         {kFastForwardNormal, kFastForwardPressed},
                                         {kStartMarkNormal, kStartMarkPressed},
                                         {kEndMarkNormal, kEndMarkPressed},
                                         {kCaptureNormal, kCapturePressed},
                                         {kConvertNormal, kConvertPressed},
                                         {kAbortNormal, kAbortPressed},
                                         {kSettingsNormal, kSettingsPressed},
                                         {kHelpNormal, kHelpPressed}};
    for (auto [normal, pressed] : faces) {
      const double difference = MeanDifference(LoadSkinImage(normal, 1.0).toImage(),
                                               LoadSkinImage(pressed, 1.0).toImage());
      QVERIFY2(difference > 10, qPrintable(QString("faces %1 and %2 differ by only %3")
                                               .arg(normal)
                                               .arg(pressed)
                                               .arg(difference)));
    }
  }

  // Each strip can meet each other one on the bar; their middles must stay apart.
  void barStripsAreTellApart() {
    const int strips[] = {kBarBackground, kBarRange,   kBarPlayed,
                          kBarStartMark,  kBarEndMark, kBarCursor};
    for (int a : strips)
      for (int b : strips) {
        if (a >= b) continue;
        const QColor p = LoadSkinImage(a, 1.0).toImage().pixelColor(0, 8);
        const QColor q = LoadSkinImage(b, 1.0).toImage().pixelColor(0, 8);
        const double distance =
            std::hypot(p.red() - q.red(), p.green() - q.green(), p.blue() - q.blue());
        QVERIFY2(distance > 60,
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

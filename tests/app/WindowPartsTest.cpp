#include <QFontInfo>
#include <QPainter>
#include <QRegion>
#include <QtTest>

#include "skin/SkinImages.h"
#include "window/BackBuffer.h"
#include "window/StatusPainter.h"
#include "window/WindowLayout.h"

namespace zel::app {

class WindowPartsTest : public QObject {
  Q_OBJECT

 private slots:
  void statusLines_data() {
    QTest::addColumn<StatusFacts>("facts");
    QTest::addColumn<QStringList>("lines");
    // shown, video: fps, size; audio: rate, channels; duration, cursor, start, end
    QTest::newRow("nothing loaded") << StatusFacts{} << QStringList{};
    QTest::newRow("video with sound")
        << StatusFacts{true, true, 29, 320, 240, true, 44100, 2, 40'110'000, 3700, 0, 40'110'000}
        << QStringList{"VIDEO:29[fps] 320x240", "AUDIO:44100[Hz] STEREO",
                       "00:04.011 CURSOR 00:03.700", "START 00:00.000 END 00:04.011"};
    QTest::newRow("sound only, mono")
        << StatusFacts{true, false, 0, 0, 0, true, 8000, 1, 30'000'000, 0, 12'345'678, 29'999'999}
        << QStringList{"AUDIO:08000[Hz] MONO", "00:03.000 CURSOR 00:00.000",
                       "START 00:01.234 END 00:02.999"};
    const StatusFacts long65{
        true,           true,          5, 176, 144, false, 0, 0, 39'000'000'000, 3'900'000,
        36'001'230'000, 39'000'000'000};
    QTest::newRow("65 minutes") << long65
                                << QStringList{"VIDEO:05[fps] 176x144",
                                               "65:00.000 CURSOR 65:00.000",
                                               "START 60:00.123 END 65:00.000"};
  }
  void statusLines() {
    QFETCH(StatusFacts, facts);
    QFETCH(QStringList, lines);
    QCOMPARE(StatusLines(facts), lines);
  }

  void statusLinesAreReadable() {
    // a heavy sans face, 14 pixels, in the status colour on the status plate
    const QFontInfo info(StatusFont());
    QVERIFY(QFontMetrics(StatusFont()).height() <= kLineHeight && info.pixelSize() >= 11);
    QVERIFY2(info.weight() >= QFont::Bold, qPrintable(info.family()));

    QImage image(kClientSize, QImage::Format_RGB32);
    image.fill(Qt::black);
    {
      QPainter painter(&image);
      StatusPainter(LoadSkinImage(SkinImage::kStatusBackground, 1.0))
          .paint(painter, {true, true, 29, 320, 240, true, 44100, 2, 40'000'000, 0, 0, 0});
    }
    // the fourth line holds text in the status colour; nothing goes below the area
    int textPixels = 0;
    for (int y = kStatusArea.top() + 3 * kLineHeight; y <= kStatusArea.bottom(); ++y)
      for (int x = kStatusArea.left(); x <= kStatusArea.right(); ++x)
        textPixels += image.pixel(x, y) == kStatusTextColor;
    QVERIFY(textPixels > 50);
    QCOMPARE(image.pixel(kStatusArea.left(), kStatusArea.bottom() + 1), qRgb(0, 0, 0));
  }

  void presentLeavesOnlyTheVideoOut_data() {
    QTest::addColumn<QRect>("video");
    QTest::newRow("none") << QRect();
    // 320 x 240 centred in the preview area
    QTest::newRow("centred") << QRect(244, 54, 320, 240);
    QTest::newRow("whole area less a pixel") << kPreviewArea.adjusted(1, 1, -1, -1);
    QTest::newRow("past the client area") << QRect(700, 400, 300, 300);
  }
  void presentLeavesOnlyTheVideoOut() {
    QFETCH(QRect, video);
    const QRect client(QPoint(0, 0), kClientSize);
    QRegion painted;
    for (const QRect& band : PresentBands(client, video)) {
      QVERIFY(client.contains(band) || band.isEmpty());
      QVERIFY2(!painted.intersects(band), "bands overlap");
      painted += band;
    }
    QCOMPARE(painted, QRegion(client).subtracted(video));
  }
};

}  // namespace zel::app

QTEST_MAIN(zel::app::WindowPartsTest)
#include "WindowPartsTest.moc"

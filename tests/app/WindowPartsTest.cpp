// The window's parts: the status lines, the bands Present paints, the
// position bar (the cursor and mark arithmetic, the drag as the window's Tick
// reads it).
#include <QRegion>
#include <QRegularExpression>
#include <QtTest>
#include <optional>

#include "CursorArithmetic.h"
#include "PositionBar.h"
#include "window/BackBuffer.h"
#include "window/StatusPainter.h"
#include "window/WindowLayout.h"

using namespace zel::app;
using zel::MarkedRange;

constexpr qint64 kSecond = 10'000'000;  // 100-ns units

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

  void dragSnapsThenLimits() {
    const qint64 d = 105 * kSecond / 10;  // 10.5 s
    const struct {
      int x;
      qint64 durationHns;
      int stepMs;
      qint64 cursorMs;
    } cases[] = {{287, 10 * kSecond, 100, 3700},  // 37.3 % of the bar
                 {771, d, 1000, 10000},           // just right of the bar
                 {900, d, 1000, 10500},           // far right
                 {-100, d, 1000, 0},
                 {770, 5 * 3600 * kSecond, 1, 18'000'000},  // 64-bit product
                 {400, 0, 100, 0}};
    for (const auto& c : cases)
      QCOMPARE(DragCursorMs(c.x, 770, c.durationHns, c.stepMs), c.cursorMs);
  }

  void stepsStayInTheFile() {
    QCOMPARE(StepCursorMs(9500, 1000, 10 * kSecond), 10000);  // fast forward
    QCOMPARE(StepCursorMs(300, -1000, 10 * kSecond), 0);      // rewind
    QCOMPARE(StepCursorMs(1234, -1000, 10 * kSecond), 234);   // no snapping
  }

  void marksKeepTheirOrder() {
    const struct {
      bool endMark;
      qint64 cursorMs;
      bool set;
      qint64 start, end;
    } cases[] = {{false, 90000, true, 90 * kSecond, 270 * kSecond},
                 {false, 280000, false, 60 * kSecond, 270 * kSecond},  // after the end
                 {true, 240000, true, 60 * kSecond, 2'400'000'000},    // 4:00 in 64 bits
                 {true, 59999, false, 60 * kSecond, 270 * kSecond}};   // before the start
    for (const auto& c : cases) {
      MarkedRange range{300 * kSecond, 60 * kSecond, 270 * kSecond};  // 5:00, 1:00 to 4:30
      QCOMPARE(c.endMark ? SetEndMark(range, c.cursorMs) : SetStartMark(range, c.cursorMs), c.set);
      QCOMPARE(range.start, c.start);
      QCOMPARE(range.end, c.end);
    }
  }

  // The window's Tick: the cursor follows the pointer only while dragging,
  // also when the pointer has left the bar or the window.
  void dragIsReadAtTheTick() {
    QWidget window;
    window.setFixedSize(799, 499);
    PositionBar bar(&window);
    bar.move(14, 330);
    bar.setState({true, 105 * kSecond / 10, 0, 105 * kSecond / 10, 0, false});
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    // Through the window system, as real pointer events travel.
    QWindow* w = window.windowHandle();
    const auto onBar = [](int x) { return QPoint(14 + x, 338); };
    QTest::mouseClick(w, Qt::LeftButton, {}, onBar(287));
    QCOMPARE(bar.dragCursorMs(100), std::nullopt);  // released before a Tick

    QTest::mouseClick(w, Qt::RightButton, {}, onBar(287));
    QTest::mousePress(w, Qt::LeftButton, {}, QPoint(300, 320));  // above the bar
    QVERIFY(!bar.dragging());
    QTest::mouseRelease(w, Qt::LeftButton, {}, QPoint(300, 320));

    QTest::mousePress(w, Qt::LeftButton, {}, onBar(287));
    QCOMPARE(bar.dragCursorMs(100), 3900);
    QTest::mouseMove(w, onBar(-10));  // left of the bar
    QCOMPARE(bar.pointerX(), -10);
    QCOMPARE(bar.dragCursorMs(1000), 0);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("outside target window"));
    QTest::mouseMove(w, onBar(900));  // beyond the window
    QCOMPARE(bar.dragCursorMs(1000), 10500);
    QTest::mouseRelease(w, Qt::LeftButton, {}, QPoint(2, 2));
    QVERIFY(!bar.dragging());
  }

  // Where the bar shows the range, the part played, the marks and the
  // cursor, as "left+width" in pixels of a 770-pixel bar (the skin's pictures
  // that fill them are artwork).
  void bandsFollowThePositions() {
    const qint64 d = 10 * kSecond, s = 2 * kSecond, e = 8 * kSecond;
    const char* nothing = "range 0+0 played 0+0 start 0+0 end 0+0 cursor 0+0";
    const struct {
      BarInput input;
      const char* bands;
    } rows[] = {
        {{false, d, 0, d, 5000, false}, nothing},
        {{true, 0, 0, 0, 0, false}, nothing},  // a file of no length divides by nothing
        {{true, d, 0, d, 5000, false}, "range 0+770 played 0+0 start 0+2 end 768+2 cursor 384+2"},
        {{true, d, 0, d, 0, false}, "range 0+770 played 0+0 start 0+2 end 768+2 cursor 0+1"},
        {{true, d, 0, d, 10000, false}, "range 0+770 played 0+0 start 0+2 end 768+2 cursor 769+1"},
        {{true, d, s, e, 5000, false},
         "range 154+462 played 0+0 start 152+4 end 614+4 cursor 384+2"},
        {{true, d, s, e, 5000, true},
         "range 154+462 played 154+231 start 152+4 end 614+4 cursor 384+2"},
        // a step back before the start mark while playing: nothing is played
        {{true, d, s, e, 1000, true}, "range 154+462 played 0+0 start 152+4 end 614+4 cursor 76+2"},
    };
    const auto text = [](const BarBand& b) { return QString("%1+%2").arg(b.left).arg(b.width); };
    for (const auto& row : rows) {
      const BarGeometry g = ComputeBarGeometry(770, 16, row.input);
      QCOMPARE(QString("range %1 played %2 start %3 end %4 cursor %5")
                   .arg(text(g.range), text(g.played), text(g.startMark), text(g.endMark),
                        text(g.cursor)),
               QString(row.bands));
    }
  }
};

QTEST_MAIN(WindowPartsTest)
#include "WindowPartsTest.moc"

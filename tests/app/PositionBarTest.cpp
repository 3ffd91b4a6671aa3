// The cursor and mark arithmetic, the bar's drag as the window's Tick reads
// it, and the bar's pixels: which strip covers which column.
#include <QtTest>
#include <optional>

#include "CursorArithmetic.h"
#include "PositionBar.h"
#include "skin/SkinImages.h"

using namespace zel::app;
using zel::MarkedRange;

namespace {

constexpr qint64 kSecond = 10'000'000;  // 100-ns units

// Row 8 of a picture of the bar as runs of strip letters: "S2 R382 C2 ...".
QString StripRuns(const QImage& bar) {
  const std::pair<char, int> strips[] = {
      {'B', SkinImage::kBarBackground}, {'R', SkinImage::kBarRange},
      {'P', SkinImage::kBarPlayed},     {'S', SkinImage::kBarStartMark},
      {'E', SkinImage::kBarEndMark},    {'C', SkinImage::kBarCursor}};
  QString runs;
  char last = 0;
  int count = 0;
  for (int x = 0; x <= bar.width(); ++x) {
    char letter = '?';
    for (auto [l, id] : strips)
      if (x < bar.width() && bar.pixel(x, 8) == LoadSkinImage(id, 1.0).toImage().pixel(0, 8))
        letter = l;
    if (letter == last && x < bar.width()) {
      ++count;
      continue;
    }
    if (count) runs += QString("%1%2%3").arg(runs.isEmpty() ? "" : " ").arg(last).arg(count);
    last = letter;
    count = 1;
  }
  return runs;
}

class PaintCounter : public QObject {
 public:
  int paints = 0;
  bool eventFilter(QObject*, QEvent* event) override {
    paints += event->type() == QEvent::Paint;
    return false;
  }
};

}  // namespace

Q_DECLARE_METATYPE(BarInput)

class PositionBarTest : public QObject {
  Q_OBJECT

 private slots:
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

  void paintsTheStrips_data() {
    QTest::addColumn<BarInput>("input");
    QTest::addColumn<QString>("runs");
    const qint64 d = 10 * kSecond;
    QTest::newRow("no file") << BarInput{false, d, 0, d, 5000, false} << "B770";
    QTest::newRow("zero duration") << BarInput{true, 0, 0, 0, 0, false} << "B770";
    QTest::newRow("marks at the ends")
        << BarInput{true, d, 0, d, 5000, false} << "S2 R382 C2 R382 E2";
    QTest::newRow("cursor at 0") << BarInput{true, d, 0, d, 0, false} << "C1 S1 R766 E2";
    QTest::newRow("cursor at the end") << BarInput{true, d, 0, d, 10000, false} << "S2 R766 E1 C1";
    QTest::newRow("range") << BarInput{true, d, 2 * kSecond, 8 * kSecond, 5000, false}
                           << "B152 S4 R228 C2 R228 E4 B152";
    QTest::newRow("playing") << BarInput{true, d, 2 * kSecond, 8 * kSecond, 5000, true}
                             << "B152 S4 P228 C2 R228 E4 B152";
    QTest::newRow("playing before the start")
        << BarInput{true, d, 2 * kSecond, 8 * kSecond, 1000, true} << "B76 C2 B74 S4 R458 E4 B152";
  }
  void paintsTheStrips() {
    QFETCH(BarInput, input);
    QFETCH(QString, runs);
    PositionBar bar;
    bar.setState(input);
    const QImage image = bar.grab().toImage();
    QCOMPARE(StripRuns(image), runs);
    if (const QString shots = qEnvironmentVariable("ZEL_BAR_SHOTS"); !shots.isEmpty())
      image.scaled(image.size() * 2).save(shots + "/" + QTest::currentDataTag() + ".png");
    if (!input.opened || input.durationHns == 0) return;
    const BarGeometry g = ComputeBarGeometry(770, 16, input);
    for (const BarBand& band : {g.range, g.played, g.startMark, g.endMark, g.cursor})
      QVERIFY(band.width >= 0);
    // The cursor is 2 pixels short at the top and the bottom.
    const int x = g.cursor.left;
    const QImage strip = LoadSkinImage(SkinImage::kBarCursor, 1.0).toImage();
    const auto isCursor = [&](int y) {
      return image.pixel(x, y) == strip.pixel(0, 0) || image.pixel(x, y) == strip.pixel(0, 8);
    };
    for (int y = 0; y < 16; ++y) QCOMPARE(isCursor(y), y >= 2 && y < 14);
  }

  void repaintsOnlyOnChange() {
    PositionBar bar;
    bar.show();
    QVERIFY(QTest::qWaitForWindowExposed(&bar));
    PaintCounter counter;
    bar.installEventFilter(&counter);
    bar.setState(bar.state());
    bar.setPlaying(false);
    QTest::qWait(50);
    QCOMPARE(counter.paints, 0);
    bar.setCursorMs(1000);
    QTRY_COMPARE(counter.paints, 1);
  }
};

QTEST_MAIN(PositionBarTest)
#include "PositionBarTest.moc"

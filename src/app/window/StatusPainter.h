// The status lines under the position bar: what the loaded file holds, its
// length, the cursor and the marks, one line of 14 pixels each.
#pragma once

#include <QFont>
#include <QPixmap>
#include <QStringList>
#include <cstdint>

class QPainter;

namespace zel::app {

// Everything the lines say, as plain values; shown is false while no file is
// loaded or its preview did not open, which leaves the area empty.
struct StatusFacts {
  bool shown = false;
  bool hasVideo = false;
  int frameRate = 0;  // whole frames per second
  int displayWidth = 0, displayHeight = 0;
  bool hasAudio = false;
  int sampleRate = 0;  // Hz
  int channels = 0;
  std::int64_t durationHns = 0;
  int cursorMs = 0;
  std::int64_t startHns = 0, endHns = 0;
};

// "mm:ss.mmm" of a time in 100-ns units and of a cursor in milliseconds;
// the minutes run past two digits.
QString FormatHns(std::int64_t hns);
QString FormatMs(int ms);

// The lines, top first: VIDEO (with video), AUDIO (with audio), duration and
// cursor, start and end.
QStringList StatusLines(const StatusFacts& facts);

// "Tahoma" with a character cell 14 pixels high, weight 900; without Tahoma
// a heavy sans face.
QFont StatusFont();

class StatusPainter {
 public:
  // statusBackground: image 263, as large as the status area.
  explicit StatusPainter(QPixmap statusBackground);

  // Draws the status background and the lines at the status area.
  void paint(QPainter& backBuffer, const StatusFacts& facts) const;

 private:
  QPixmap background_;
  QFont font_;
};

}  // namespace zel::app

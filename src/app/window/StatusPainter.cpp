#include "window/StatusPainter.h"

#include <QFontMetrics>
#include <QPainter>

#include "General/MediaTypes.h"
#include "skin/SkinImages.h"
#include "window/WindowLayout.h"

namespace zel::app {
namespace {

QString Clock(std::int64_t minutes, int seconds, int milliseconds) {
  return QString::asprintf("%02lld:%02d.%03d", static_cast<long long>(minutes), seconds,
                           milliseconds);
}

}  // namespace

QString FormatHns(std::int64_t hns) {
  const std::int64_t seconds = hns / kHnsPerSecond;
  return Clock(seconds / 60, static_cast<int>(seconds % 60),
               static_cast<int>((hns / kHnsPerMs) % 1000));
}

QString FormatMs(int ms) { return Clock((ms / 1000) / 60, (ms / 1000) % 60, ms % 1000); }

QStringList StatusLines(const StatusFacts& f) {
  QStringList lines;
  if (!f.shown) return lines;
  if (f.hasVideo) {
    lines << QString::asprintf("VIDEO:%02d[fps] %dx%d", f.frameRate, f.displayWidth,
                               f.displayHeight);
  }
  if (f.hasAudio) {
    lines << QString::asprintf("AUDIO:%05d[Hz] %s", f.sampleRate,
                               f.channels == 1 ? "MONO" : "STEREO");
  }
  lines << FormatHns(f.durationHns) + " CURSOR " + FormatMs(f.cursorMs);
  lines << "START " + FormatHns(f.startHns) + " END " + FormatHns(f.endHns);
  return lines;
}

QFont StatusFont() {
  QFont font;
  // DejaVu Sans is Debian's sans face; its heavy cut stands in for Tahoma's.
  font.setFamilies({"Tahoma", "DejaVu Sans", "Sans Serif"});
  font.setStyleHint(QFont::SansSerif);
  font.setWeight(QFont::Black);
  // 14 pixels high as the whole character cell, ascent and descent together,
  // so that the lines do not touch: the em size is somewhat smaller.
  for (int size = kLineHeight; size > kLineHeight / 2; --size) {
    font.setPixelSize(size);
    if (QFontMetrics(font).height() <= kLineHeight) break;
  }
  return font;
}

StatusPainter::StatusPainter(QPixmap statusBackground)
    : background_(std::move(statusBackground)), font_(StatusFont()) {}

void StatusPainter::paint(QPainter& p, const StatusFacts& facts) const {
  p.drawPixmap(kStatusArea, background_);
  p.setFont(font_);
  p.setPen(QColor::fromRgb(kStatusTextColor));
  int y = kStatusArea.top();
  for (const QString& line : StatusLines(facts)) {
    p.drawText(QRect(kStatusArea.left() + 2, y, kStatusArea.width() - 2, kLineHeight),
               Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, line);
    y += kLineHeight;
  }
}

}  // namespace zel::app

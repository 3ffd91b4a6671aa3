// Where everything of the main window stands: the 799 x 499 client area, its
// three areas and its thirteen buttons with their faces and captions.
#pragma once

#include <QRect>
#include <QSize>
#include <span>

namespace zel::app {

// A rectangle from its left, top, right and bottom edges; right and bottom
// lie just outside it.
constexpr QRect Span(int left, int top, int right, int bottom) {
  return QRect(left, top, right - left, bottom - top);
}

inline constexpr QSize kClientSize{799, 499};
inline constexpr QRect kPreviewArea = Span(19, 18, 789, 330);  // 770 x 312
inline constexpr QRect kBarArea = Span(14, 330, 784, 346);     // 770 x 16
inline constexpr QRect kStatusArea = Span(14, 346, 784, 402);  // 770 x 56
inline constexpr int kLineHeight = 14;  // status lines; also the status font's height
// The label under the Convert place: 変換, or 中止 while Abort stands there.
inline constexpr QRect kConvertLabelArea = Span(623, 465, 673, 481);

// The command ids of the buttons; each button's object name is its id.
enum ButtonId : int {
  kLoadButton = 1014,
  kPlayButton = 1016,
  kPlayingButton = 1017,
  kStopButton = 32788,
  kRewindButton = 1160,
  kFastForwardButton = 1159,
  kStartMarkButton = 1047,
  kEndMarkButton = 1048,
  kCaptureButton = 1124,
  kConvertButton = 1015,
  kAbortButton = 32789,
  kSettingsButton = 32787,
  kHelpButton = 1125,
};

struct ButtonPlace {
  int id;
  const char* caption;  // never drawn: the tooltip
  QRect rect;
  int normal;   // skin image ids of the faces
  int pressed;  // shown while the button is held down
};

// The thirteen buttons in the order they are set up. Playing stands on Play's
// place while the preview plays, Abort on Convert's while converting.
std::span<const ButtonPlace> ButtonPlaces();
const ButtonPlace& ButtonPlaceOf(int id);

}  // namespace zel::app

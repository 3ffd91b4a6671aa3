// The pictures the main window is drawn from, by their image ids: the button
// faces, the window and status backgrounds and the six strips of the position
// bar. They are rendered from the SVG drawings in art/ at build time, at 1x and
// at 2x ("name@2x.png"), and compiled into the program under ":/skin/".
#pragma once

#include <QIcon>
#include <QPixmap>
#include <QRgb>
#include <QString>
#include <span>

namespace SkinImage {
// Button faces. Play and Playing share one pair with the roles swapped: Play
// shows kPlayNormal and kPlayPressed when held, Playing shows kPlayPressed and
// kPlayNormal when held. Abort stands on Convert's place while converting.
inline constexpr int kLoadPressed = 225;
inline constexpr int kPlayPressed = 227;
inline constexpr int kStopPressed = 229;
inline constexpr int kStartMarkPressed = 231;
inline constexpr int kEndMarkNormal = 232;
inline constexpr int kEndMarkPressed = 233;
inline constexpr int kSettingsNormal = 234;
inline constexpr int kSettingsPressed = 235;
inline constexpr int kConvertNormal = 236;
inline constexpr int kConvertPressed = 237;
inline constexpr int kCaptureNormal = 238;
inline constexpr int kCapturePressed = 239;
inline constexpr int kHelpNormal = 240;
inline constexpr int kHelpPressed = 241;
inline constexpr int kStartMarkNormal = 245;
inline constexpr int kStopNormal = 246;
inline constexpr int kLoadNormal = 247;
inline constexpr int kPlayNormal = 248;
inline constexpr int kRewindNormal = 249;
inline constexpr int kRewindPressed = 250;
inline constexpr int kFastForwardNormal = 251;
inline constexpr int kFastForwardPressed = 252;
inline constexpr int kAbortNormal = 255;
inline constexpr int kAbortPressed = 256;

// The whole 799 x 499 client area, and the 770 x 56 plate behind the status lines.
inline constexpr int kBackground = 258;
inline constexpr int kStatusBackground = 263;

// 1 x 16 strips, stretched sideways over the 770 x 16 position bar.
inline constexpr int kBarBackground = 260;  // the whole bar
inline constexpr int kBarPlayed = 261;      // start mark to cursor, while playing
inline constexpr int kBarStartMark = 264;   // 4-pixel band at the start mark
inline constexpr int kBarEndMark = 265;     // 4-pixel band at the end mark
inline constexpr int kBarRange = 266;       // between the marks
inline constexpr int kBarCursor = 268;      // 2-pixel band, 2 pixels short at top and bottom

// The label under the Convert place, naming the button shown there.
inline constexpr int kConvertLabel = 270;
inline constexpr int kAbortLabel = 271;
}  // namespace SkinImage

// The colour the status lines are written in: light blue, for the dark glass
// of the status background (kStatusBackground) that the lines stand on.
inline constexpr QRgb kStatusTextColor = 0xffbfe3f7;

// Every id that has an image, in ascending order.
std::span<const int> SkinImageIds();

// ":/skin/<name>.png" of an id, or an empty string for an id without an image.
QString SkinResourcePath(int id);

// The image of an id. With a device pixel ratio above 1 the double-size
// rendering is taken, marked with ratio 2, so it covers the same logical size.
// A null pixmap for an id without an image.
QPixmap LoadSkinImage(int id, qreal devicePixelRatio);
// The same at the application's device pixel ratio.
QPixmap LoadSkinImage(int id);

// The application icon in every rendered size (16 to 256 pixels).
QIcon ApplicationIcon();

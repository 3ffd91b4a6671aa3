#include "window/WindowLayout.h"

#include <algorithm>
#include <array>

#include "skin/SkinImages.h"

namespace zel::app {
namespace {

using namespace SkinImage;

constexpr std::array<ButtonPlace, 13> kButtons{{
    {kLoadButton, "読み込み", Span(18, 425, 215, 448), kLoadNormal, kLoadPressed},
    {kPlayButton, "再生", Span(239, 408, 291, 460), kPlayNormal, kPlayPressed},
    {kStopButton, "停止", Span(311, 415, 347, 451), kStopNormal, kStopPressed},
    {kStartMarkButton, "開始", Span(481, 420, 509, 448), kStartMarkNormal, kStartMarkPressed},
    // 終了 as the skin's label says, not Stop's 停止
    {kEndMarkButton, "終了", Span(528, 420, 556, 448), kEndMarkNormal, kEndMarkPressed},
    {kSettingsButton, "設定", Span(682, 418, 726, 448), kSettingsNormal, kSettingsPressed},
    {kConvertButton, "変換", Span(626, 418, 670, 448), kConvertNormal, kConvertPressed},
    {kCaptureButton, "キャプチャー", Span(575, 420, 603, 448), kCaptureNormal, kCapturePressed},
    {kHelpButton, "ヘルプ", Span(739, 418, 783, 448), kHelpNormal, kHelpPressed},
    {kRewindButton, "巻き戻し", Span(367, 415, 403, 451), kRewindNormal, kRewindPressed},
    {kFastForwardButton, "早送り", Span(425, 415, 461, 451), kFastForwardNormal,
     kFastForwardPressed},
    {kAbortButton, "中止", Span(626, 418, 670, 448), kAbortNormal, kAbortPressed},
    // Play's faces with their roles swapped
    {kPlayingButton, "再生", Span(239, 408, 291, 460), kPlayPressed, kPlayNormal},
}};

}  // namespace

std::span<const ButtonPlace> ButtonPlaces() { return kButtons; }

const ButtonPlace& ButtonPlaceOf(int id) {
  const auto it = std::find_if(kButtons.begin(), kButtons.end(),
                               [id](const ButtonPlace& b) { return b.id == id; });
  return it != kButtons.end() ? *it : kButtons.front();
}

}  // namespace zel::app

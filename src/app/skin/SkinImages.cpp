#include "skin/SkinImages.h"

#include <QGuiApplication>
#include <algorithm>
#include <array>

namespace {

struct SkinEntry {
  int id;
  const char* name;  // file name under :/skin/, without ".png"
};

// Sorted by id.
constexpr std::array<SkinEntry, 34> kSkinTable{{
    {SkinImage::kLoadPressed, "button-load-pressed"},
    {SkinImage::kPlayPressed, "button-play-pressed"},
    {SkinImage::kStopPressed, "button-stop-pressed"},
    {SkinImage::kStartMarkPressed, "button-start-mark-pressed"},
    {SkinImage::kEndMarkNormal, "button-end-mark-normal"},
    {SkinImage::kEndMarkPressed, "button-end-mark-pressed"},
    {SkinImage::kSettingsNormal, "button-settings-normal"},
    {SkinImage::kSettingsPressed, "button-settings-pressed"},
    {SkinImage::kConvertNormal, "button-convert-normal"},
    {SkinImage::kConvertPressed, "button-convert-pressed"},
    {SkinImage::kCaptureNormal, "button-capture-normal"},
    {SkinImage::kCapturePressed, "button-capture-pressed"},
    {SkinImage::kHelpNormal, "button-help-normal"},
    {SkinImage::kHelpPressed, "button-help-pressed"},
    {SkinImage::kStartMarkNormal, "button-start-mark-normal"},
    {SkinImage::kStopNormal, "button-stop-normal"},
    {SkinImage::kLoadNormal, "button-load-normal"},
    {SkinImage::kPlayNormal, "button-play-normal"},
    {SkinImage::kRewindNormal, "button-rewind-normal"},
    {SkinImage::kRewindPressed, "button-rewind-pressed"},
    {SkinImage::kFastForwardNormal, "button-fast-forward-normal"},
    {SkinImage::kFastForwardPressed, "button-fast-forward-pressed"},
    {SkinImage::kAbortNormal, "button-abort-normal"},
    {SkinImage::kAbortPressed, "button-abort-pressed"},
    {SkinImage::kBackground, "background"},
    {SkinImage::kBarBackground, "bar-background"},
    {SkinImage::kBarPlayed, "bar-played"},
    {SkinImage::kStatusBackground, "status-background"},
    {SkinImage::kBarStartMark, "bar-start-mark"},
    {SkinImage::kBarEndMark, "bar-end-mark"},
    {SkinImage::kBarRange, "bar-range"},
    {SkinImage::kBarCursor, "bar-cursor"},
    {SkinImage::kConvertLabel, "label-convert"},
    {SkinImage::kAbortLabel, "label-abort"},
}};

constexpr std::array<int, kSkinTable.size()> kSkinIds = [] {
  std::array<int, kSkinTable.size()> ids{};
  for (std::size_t i = 0; i < ids.size(); ++i) ids[i] = kSkinTable[i].id;
  return ids;
}();
static_assert(std::is_sorted(kSkinIds.begin(), kSkinIds.end()) &&
                  std::adjacent_find(kSkinIds.begin(), kSkinIds.end()) == kSkinIds.end(),
              "the skin table is sorted by id, each id once");

const char* SkinName(int id) {
  const auto it = std::lower_bound(kSkinTable.begin(), kSkinTable.end(), id,
                                   [](const SkinEntry& e, int key) { return e.id < key; });
  return it != kSkinTable.end() && it->id == id ? it->name : nullptr;
}

constexpr int kIconSizes[] = {16, 22, 24, 32, 48, 64, 128, 256};

}  // namespace

std::span<const int> SkinImageIds() { return kSkinIds; }

QString SkinResourcePath(int id) {
  const char* name = SkinName(id);
  return name ? QStringLiteral(":/skin/%1.png").arg(QLatin1String(name)) : QString();
}

QPixmap LoadSkinImage(int id, qreal devicePixelRatio) {
  const char* name = SkinName(id);
  if (!name) return {};
  if (devicePixelRatio > 1.0) {
    QPixmap image(QStringLiteral(":/skin/%1@2x.png").arg(QLatin1String(name)));
    image.setDevicePixelRatio(2.0);
    return image;
  }
  return QPixmap(SkinResourcePath(id));
}

QPixmap LoadSkinImage(int id) {
  const auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
  return LoadSkinImage(id, app ? app->devicePixelRatio() : 1.0);
}

QIcon ApplicationIcon() {
  QIcon icon;
  for (int size : kIconSizes)
    icon.addFile(QStringLiteral(":/icons/zel-%1.png").arg(size), QSize(size, size));
  return icon;
}

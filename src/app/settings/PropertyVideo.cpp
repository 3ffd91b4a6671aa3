#include "app/settings/PropertyVideo.h"

#include <QComboBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QSignalBlocker>

#include "General/Notifier.h"

namespace zel::app {
namespace {

constexpr std::string_view kPowerOfTwoRate =
    "フレームレートに2の乗数は選べません。最も近い値に変更します。";
constexpr std::string_view kNoVideoFormat = "ビデオコーデックに「none」は選べません。";

// "mpeg4" takes no power of two above 1 as its frame rate: 2, 4, 8 and 16
// become the next higher rate. Every other rate, and any with "h263", stays.
int AllowedFrameRate(int videoFormatIndex, int rate) {
  const bool powerOfTwo = rate > 1 && (rate & (rate - 1)) == 0;
  return videoFormatIndex == kVideoFormatMpeg4 && powerOfTwo ? rate + 1 : rate;
}

}  // namespace

PropertyVideo::PropertyVideo(Notifier& notifier, QWidget* parent)
    : PropertyPage(parent), notifier_(notifier) {
  setObjectName("PropertyVideo");
  format_ = makeCombo("1017");
  frameSize_ = makeCombo("1142");
  frameRate_ = makeCombo("1019");
  bitRate_ = makeReadOnlyNumber("1033");

  QFormLayout* form = makeForm();
  form->addRow("FORMAT", format_);
  form->addRow("FRAMESIZE", frameSize_);
  form->addRow("FRAMERATE", frameRate_);
  form->addRow("BITRATE", bitRate_);

  connect(format_, &QComboBox::currentIndexChanged, this, &PropertyVideo::formatChanged);
  connect(frameSize_, &QComboBox::currentIndexChanged, this, &PropertyVideo::markModified);
  connect(frameRate_, &QComboBox::currentIndexChanged, this, &PropertyVideo::markModified);
}

void PropertyVideo::loadControls(ConversionSettings& settings) {
  FillCombo(format_, VideoFormatList());
  if (ClampIndex(settings.mpeg_video, VideoFormatList().size()) != settings.mpeg_video) {
    settings.mpeg_video = kVideoFormatNone;
  }
  SelectClamped(format_, settings.mpeg_video);
  FillCombo(frameSize_, FrameSizeList(format_->currentIndex()));
  SelectClamped(frameSize_, settings.framesize);
  bitRate_->setText(QString::number(kVideoBitRate));
  FillCombo(frameRate_, FrameRateList());
  SelectClamped(frameRate_, settings.framerate);
}

void PropertyVideo::formatChanged() {
  if (format_->currentIndex() < 0) return;
  markModified();
  FillCombo(frameSize_, FrameSizeList(format_->currentIndex()));
  SelectClamped(frameSize_, 0);
}

void PropertyVideo::commitControls(ConversionSettings& settings) {
  settings.mpeg_video = SelectedIndex(format_, settings.mpeg_video);
  int rate = SelectedIndex(frameRate_, settings.framerate);
  const int allowed = AllowedFrameRate(settings.mpeg_video, rate);
  if (allowed != rate) {
    notifier_.showMessage(kPowerOfTwoRate);
    rate = allowed;
    SelectClamped(frameRate_, rate);
  }
  settings.framerate = rate;
  settings.framesize = SelectedIndex(frameSize_, settings.framesize);
  // A warning only: "none" is committed with the rest, and the conversion
  // then writes files without a video track.
  if (VideoFormatValue(settings.mpeg_video) == kVideoFormatNone) {
    notifier_.showMessage(kNoVideoFormat);
  }
}

}  // namespace zel::app

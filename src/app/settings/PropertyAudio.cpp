#include "app/settings/PropertyAudio.h"

#include <QComboBox>
#include <QFormLayout>
#include <QLineEdit>

namespace zel::app {
namespace {

int AudioBitRate(int formatValue, int sampleRateIndex) {
  switch (formatValue) {
    case kAudioFormatAac:
      return AacBitRate(ListValue(SampleRateList(formatValue), sampleRateIndex));
    case kAudioFormatAmr:
      return kAmrBitRate;
    default:
      return 0;
  }
}

}  // namespace

PropertyAudio::PropertyAudio(QWidget* parent) : PropertyPage(parent) {
  setObjectName("PropertyAudio");
  format_ = makeCombo("1017");
  sampleRate_ = makeCombo("1144");
  channels_ = makeCombo("1019");
  bitRate_ = makeReadOnlyNumber("1149");

  QFormLayout* form = makeForm();
  form->addRow("FORMAT", format_);
  form->addRow("SAMPLERATE", sampleRate_);
  form->addRow("CHANNELS", channels_);
  form->addRow("BITRATE", bitRate_);

  connect(format_, &QComboBox::currentIndexChanged, this, &PropertyAudio::formatChanged);
  connect(sampleRate_, &QComboBox::currentIndexChanged, this, &PropertyAudio::sampleRateChanged);
  connect(channels_, &QComboBox::currentIndexChanged, this, &PropertyAudio::markModified);
}

int PropertyAudio::selectedFormat() const {
  return format_->currentIndex() < 0 ? kAudioFormatNone : format_->currentData().toInt();
}

void PropertyAudio::showBitRate(int sampleRateIndex) {
  bitRate_->setText(QString::number(AudioBitRate(selectedFormat(), sampleRateIndex)));
}

void PropertyAudio::loadControls(ConversionSettings& settings) {
  FillCombo(format_, AudioFormatList());
  if (ClampIndex(settings.mpeg_audio, AudioFormatList().size()) != settings.mpeg_audio) {
    settings.mpeg_audio = kAudioFormatNone;
  }
  SelectClamped(format_, settings.mpeg_audio);
  const int format = selectedFormat();
  FillCombo(sampleRate_, SampleRateList(format));
  SelectClamped(sampleRate_, settings.samplerate);
  FillCombo(channels_, ChannelList(format));
  SelectClamped(channels_, settings.channels);
  showBitRate(sampleRate_->currentIndex());
}

void PropertyAudio::formatChanged() {
  if (format_->currentIndex() < 0) return;  // nothing chosen: keep the lists
  markModified();
  const int format = selectedFormat();
  FillCombo(sampleRate_, SampleRateList(format));
  FillCombo(channels_, ChannelList(format));
  SelectClamped(sampleRate_, 0);
  SelectClamped(channels_, 0);
  showBitRate(0);
}

void PropertyAudio::sampleRateChanged() {
  if (sampleRate_->currentIndex() < 0) return;
  markModified();
  if (selectedFormat() == kAudioFormatAac) showBitRate(sampleRate_->currentIndex());
}

void PropertyAudio::commitControls(ConversionSettings& settings) {
  settings.mpeg_audio = SelectedIndex(format_, settings.mpeg_audio);
  settings.samplerate = SelectedIndex(sampleRate_, settings.samplerate);
  settings.channels = SelectedIndex(channels_, settings.channels);
}

}  // namespace zel::app

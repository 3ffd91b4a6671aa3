#pragma once

#include "app/settings/PropertyPage.h"

class QComboBox;
class QLineEdit;

namespace zel::app {

// The AUDIO page: format, sample rate and channels, and the bit rate that
// the audio path will use for them (read-only).
class PropertyAudio final : public PropertyPage {
  Q_OBJECT

 public:
  explicit PropertyAudio(QWidget* parent = nullptr);

 protected:
  void loadControls(ConversionSettings& settings) override;
  void commitControls(ConversionSettings& settings) override;

 private:
  void formatChanged();
  void sampleRateChanged();
  void showBitRate(int sampleRateIndex);
  int selectedFormat() const;

  QComboBox* format_;
  QComboBox* sampleRate_;
  QComboBox* channels_;
  QLineEdit* bitRate_;
};

}  // namespace zel::app

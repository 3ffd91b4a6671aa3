#pragma once

#include "app/settings/PropertyPage.h"

class QComboBox;
class QLineEdit;

namespace zel {
class Notifier;
}

namespace zel::app {

// The VIDEO page: format, frame size and frame rate, and the fixed bit rate
// of the video path (read-only). Committing corrects a frame rate that the
// MPEG-4 encoder cannot take and warns about the format "none".
class PropertyVideo final : public PropertyPage {
  Q_OBJECT

 public:
  explicit PropertyVideo(Notifier& notifier, QWidget* parent = nullptr);

 protected:
  void loadControls(ConversionSettings& settings) override;
  void commitControls(ConversionSettings& settings) override;

 private:
  void formatChanged();

  Notifier& notifier_;
  QComboBox* format_;
  QComboBox* frameSize_;
  QComboBox* frameRate_;
  QLineEdit* bitRate_;
};

}  // namespace zel::app

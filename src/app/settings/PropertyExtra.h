#pragma once

#include "app/settings/PropertyPage.h"

class QCheckBox;
class QSpinBox;

namespace zel::app {

// The EXTRA page: what the converter does beyond the described one, each
// off unless chosen here (keepaspect, smoothscale, anyinput, normalize,
// maxsize).
class PropertyExtra final : public PropertyPage {
  Q_OBJECT

 public:
  explicit PropertyExtra(QWidget* parent = nullptr);

 protected:
  void loadControls(ConversionSettings& settings) override;
  void commitControls(ConversionSettings& settings) override;

 private:
  QCheckBox* keepAspect_;
  QCheckBox* smoothScale_;
  QCheckBox* anyInput_;
  QSpinBox* maxSize_;
  QCheckBox* normalize_;
};

}  // namespace zel::app

#pragma once

#include "app/settings/PropertyPage.h"

class QCheckBox;
class QComboBox;

namespace zel::app {

// The ETCETRA page: the cursor step, the still-capture size and whether the
// preview picture is stretched over the preview area.
class PropertyEtcetra final : public PropertyPage {
  Q_OBJECT

 public:
  explicit PropertyEtcetra(QWidget* parent = nullptr);

 protected:
  void loadControls(ConversionSettings& settings) override;
  void commitControls(ConversionSettings& settings) override;

 private:
  QComboBox* measure_;
  QComboBox* captureSize_;
  QCheckBox* adjustFrame_;
};

}  // namespace zel::app

#include "app/settings/PropertyEtcetra.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>

namespace zel::app {

PropertyEtcetra::PropertyEtcetra(QWidget* parent) : PropertyPage(parent) {
  setObjectName("PropertyEtcetra");
  measure_ = makeCombo("1017");
  captureSize_ = makeCombo("1164");
  adjustFrame_ = new QCheckBox("ADJUSTFRAME", this);
  adjustFrame_->setObjectName("1162");

  QFormLayout* form = makeForm();
  form->addRow("MEASURE", measure_);
  form->addRow("CAPTURESIZE", captureSize_);
  form->addRow(adjustFrame_);

  connect(measure_, &QComboBox::currentIndexChanged, this, &PropertyEtcetra::markModified);
  connect(captureSize_, &QComboBox::currentIndexChanged, this, &PropertyEtcetra::markModified);
  connect(adjustFrame_, &QCheckBox::toggled, this, &PropertyEtcetra::markModified);
}

void PropertyEtcetra::loadControls(ConversionSettings& settings) {
  FillCombo(measure_, MeasureList());
  SelectClamped(measure_, settings.measure);
  FillCombo(captureSize_, CaptureSizeList());
  SelectClamped(captureSize_, settings.capturesize);
  adjustFrame_->setChecked(settings.adjustframe != 0);
}

void PropertyEtcetra::commitControls(ConversionSettings& settings) {
  settings.measure = SelectedIndex(measure_, settings.measure);
  settings.capturesize = SelectedIndex(captureSize_, settings.capturesize);
  ComputeMeasureStep(settings);
  settings.adjustframe = adjustFrame_->isChecked() ? 1 : 0;
}

}  // namespace zel::app

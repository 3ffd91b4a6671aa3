#include "app/settings/PropertyPage.h"

#include <QComboBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QSignalBlocker>

namespace zel::app {
namespace {

// One width for every list of the sheet, wide enough for "sample_00".
void SetListWidth(QComboBox* combo) {
  combo->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  combo->setMinimumContentsLength(9);
}

}  // namespace

PropertyPage::PropertyPage(QWidget* parent) : QWidget(parent) {}

void PropertyPage::load(ConversionSettings& settings) {
  if (loaded_) return;
  loading_ = true;
  loadControls(settings);
  loading_ = false;
  loaded_ = true;
}

void PropertyPage::commit(ConversionSettings& settings) {
  if (!loaded_) return;
  commitControls(settings);
  if (modified_) {
    modified_ = false;
    emit modifiedChanged(false);
  }
}

void PropertyPage::markModified() {
  if (loading_ || modified_) return;
  modified_ = true;
  emit modifiedChanged(true);
}

QFormLayout* PropertyPage::makeForm() {
  auto* form = new QFormLayout(this);
  form->setLabelAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  form->setFormAlignment(Qt::AlignLeft | Qt::AlignTop);
  form->setFieldGrowthPolicy(QFormLayout::FieldsStayAtSizeHint);
  form->setRowWrapPolicy(QFormLayout::DontWrapRows);
  form->setHorizontalSpacing(16);
  form->setVerticalSpacing(10);
  return form;
}

QComboBox* PropertyPage::makeCombo(const char* id) {
  auto* combo = new QComboBox(this);
  combo->setObjectName(id);
  combo->setMaxVisibleItems(10);
  SetListWidth(combo);
  combo->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
  return combo;
}

QLineEdit* PropertyPage::makeReadOnlyNumber(const char* id) {
  auto* edit = new QLineEdit(this);
  edit->setObjectName(id);
  edit->setEnabled(false);
  QComboBox sample;
  SetListWidth(&sample);
  edit->setFixedWidth(sample.sizeHint().width());
  return edit;
}

void FillCombo(QComboBox* combo, std::span<const ListEntry> list) {
  const QSignalBlocker blocker(combo);
  combo->clear();
  for (const ListEntry& entry : list) {
    combo->addItem(QString::fromUtf8(entry.text.data(), static_cast<qsizetype>(entry.text.size())),
                   entry.value);
  }
}

void SelectClamped(QComboBox* combo, int index) {
  const QSignalBlocker blocker(combo);
  combo->setCurrentIndex(ClampIndex(index, static_cast<std::size_t>(combo->count())));
}

int SelectedIndex(const QComboBox* combo, int previous) {
  const int index = combo->currentIndex();
  if (index >= 0) return index;
  return ClampIndex(previous, static_cast<std::size_t>(combo->count()));
}

}  // namespace zel::app

#include "app/settings/SettingsSheet.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "app/settings/PropertyAudio.h"
#include "app/settings/PropertyEtcetra.h"
#include "app/settings/PropertyExtra.h"
#include "app/settings/PropertyVideo.h"

namespace zel::app {

SettingsSheet::SettingsSheet(ConversionSettings& settings, Notifier& notifier, QWidget* parent,
                             FolderChooser chooser)
    : QDialog(parent), settings_(settings) {
  setWindowTitle("PROPERTY");
  setModal(true);

  tabs_ = new QTabWidget(this);
  pages_ = {new PropertyAudio, new PropertyVideo(notifier), new PropertyFile(std::move(chooser)),
            new PropertyEtcetra, new PropertyExtra};
  const char* titles[] = {"AUDIO", "VIDEO", "FILE", "ETCETRA", "EXTRA"};
  for (std::size_t i = 0; i < pages_.size(); ++i) {
    tabs_->addTab(pages_[i], titles[i]);
    connect(pages_[i], &PropertyPage::modifiedChanged, this, &SettingsSheet::updateApplyButton);
  }

  // The same label column on every page, so the controls stay in place
  // when the user switches tabs.
  int labelWidth = 0;
  for (const PropertyPage* page : pages_) {
    for (const QLabel* label : page->findChildren<QLabel*>()) {
      labelWidth = std::max(labelWidth, label->sizeHint().width());
    }
  }
  for (PropertyPage* page : pages_) {
    for (QLabel* label : page->findChildren<QLabel*>()) label->setMinimumWidth(labelWidth);
  }
  // And one height: the sheet would otherwise take the height of a page whose
  // text wraps (EXTRA) for its width alone, and OK and Cancel would jump.
  int pageHeight = 0;
  for (const PropertyPage* page : pages_) {
    pageHeight = std::max(pageHeight, page->sizeHint().height());
  }
  for (PropertyPage* page : pages_) page->setMinimumHeight(pageHeight);

  auto* buttons = new QDialogButtonBox(
      QDialogButtonBox::Ok | QDialogButtonBox::Cancel | QDialogButtonBox::Apply, this);
  apply_ = buttons->button(QDialogButtonBox::Apply);
  apply_->setEnabled(false);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(tabs_);
  layout->addWidget(buttons);
  // A sheet of fixed pages: as large as its largest page, not resizable.
  layout->setSizeConstraint(QLayout::SetFixedSize);

  connect(tabs_, &QTabWidget::currentChanged, this, &SettingsSheet::loadPage);
  connect(apply_, &QPushButton::clicked, this, &SettingsSheet::applyPages);
  connect(buttons, &QDialogButtonBox::accepted, this, [this] {
    applyPages();
    accept();
  });
  connect(buttons, &QDialogButtonBox::rejected, this, &SettingsSheet::reject);

  loadPage(tabs_->currentIndex());
}

void SettingsSheet::loadPage(int index) {
  if (index < 0 || static_cast<std::size_t>(index) >= pages_.size()) return;
  pages_[static_cast<std::size_t>(index)]->load(settings_);
}

void SettingsSheet::applyPages() {
  for (PropertyPage* page : pages_) page->commit(settings_);  // pages never shown skip it
  updateApplyButton();
}

void SettingsSheet::updateApplyButton() {
  bool modified = false;
  for (const PropertyPage* page : pages_) modified = modified || page->isModified();
  apply_->setEnabled(modified);
}

}  // namespace zel::app

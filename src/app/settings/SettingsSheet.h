#pragma once

#include <QDialog>
#include <array>

#include "app/settings/PropertyFile.h"
#include "settings/ConversionSettings.h"

class QPushButton;
class QTabWidget;

namespace zel {
class Notifier;
}

namespace zel::app {

class PropertyPage;

// The settings dialog "PROPERTY": the pages AUDIO, VIDEO, FILE and ETCETRA
// (and EXTRA, for what goes beyond them) as tabs, with OK, Cancel and Apply. Made afresh for every opening:
//
//   SettingsSheet sheet(settings, notifier, window);
//   sheet.exec();  // then save and reload setup.ini, whatever it returned
//
// A page shows the settings as they are when it is first shown, so a value
// committed by Apply is seen by a page opened later. OK and Apply commit
// every page shown so far, in page order; a page never shown leaves its
// settings alone. Cancel commits nothing more, but what Apply committed
// stays. Messages of the pages go to notifier.
class SettingsSheet final : public QDialog {
  Q_OBJECT

 public:
  SettingsSheet(ConversionSettings& settings, Notifier& notifier, QWidget* parent = nullptr,
                FolderChooser chooser = ChooseExistingFolder);

 private:
  void loadPage(int index);
  void applyPages();
  void updateApplyButton();

  ConversionSettings& settings_;
  QTabWidget* tabs_;
  std::array<PropertyPage*, 5> pages_;
  QPushButton* apply_;
};

}  // namespace zel::app

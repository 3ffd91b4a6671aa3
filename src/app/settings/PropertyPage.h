#pragma once

#include <QWidget>
#include <span>

#include "settings/ConversionSettings.h"
#include "settings/ValueLists.h"

class QComboBox;
class QFormLayout;
class QLineEdit;

namespace zel::app {

// One page of the settings sheet. The sheet loads a page from the settings
// when the page is first shown and has every loaded page commit on OK and
// Apply; a page never shown keeps its settings untouched.
class PropertyPage : public QWidget {
  Q_OBJECT

 public:
  explicit PropertyPage(QWidget* parent = nullptr);

  bool isLoaded() const { return loaded_; }
  bool isModified() const { return modified_; }

  // Shows the settings in the controls (first time only). The AUDIO and
  // VIDEO pages reset a format index that selects nothing, so settings is
  // not const.
  void load(ConversionSettings& settings);
  // Writes the controls back into settings and clears the modified mark.
  void commit(ConversionSettings& settings);

 signals:
  void modifiedChanged(bool modified);

 protected:
  virtual void loadControls(ConversionSettings& settings) = 0;
  virtual void commitControls(ConversionSettings& settings) = 0;
  // What a user's edit does: enables the sheet's Apply button. Ignored while
  // the page fills its controls.
  void markModified();

  // A form whose labels sit left of their controls, as every page lays out.
  QFormLayout* makeForm();
  // A drop-down list named by its control id.
  QComboBox* makeCombo(const char* id);
  // A disabled edit that shows a number, as wide as the lists.
  QLineEdit* makeReadOnlyNumber(const char* id);

 private:
  bool loaded_ = false;
  bool loading_ = false;
  bool modified_ = false;
};

// Replaces the entries of combo with list, each carrying its value as item
// data, without signalling a selection change.
void FillCombo(QComboBox* combo, std::span<const ListEntry> list);
// Selects index, or the first entry when index selects nothing.
void SelectClamped(QComboBox* combo, int index);
// The selected index; when nothing is selected, previous (clamped to the
// entries), so the absence of a selection is never committed.
int SelectedIndex(const QComboBox* combo, int previous);

}  // namespace zel::app

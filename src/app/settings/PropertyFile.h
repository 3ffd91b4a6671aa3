#pragma once

#include <QString>
#include <functional>

#include "app/settings/PropertyPage.h"

class QCheckBox;
class QComboBox;
class QLineEdit;

namespace zel::app {

// Asks the user for a folder: (owner, title, folder to start at) -> the
// chosen folder, or an empty text when the user cancelled.
using FolderChooser = std::function<QString(QWidget*, const QString&, const QString&)>;

// QFileDialog::getExistingDirectory, the chooser the sheet uses unless told
// otherwise.
QString ChooseExistingFolder(QWidget* owner, const QString& title, const QString& start);

// The FILE page: output folder, which files to write, splitting interval and
// the thumbnails' name pattern with its presets.
class PropertyFile final : public PropertyPage {
  Q_OBJECT

 public:
  explicit PropertyFile(FolderChooser chooser = ChooseExistingFolder, QWidget* parent = nullptr);

 protected:
  void loadControls(ConversionSettings& settings) override;
  void commitControls(ConversionSettings& settings) override;

 private:
  void browse();
  void presetChosen(int index);

  FolderChooser chooser_;
  QLineEdit* directory_;
  QCheckBox* file3gp_;
  QCheckBox* file3g2_;
  QCheckBox* log_;
  QComboBox* interval_;
  QLineEdit* pattern_;
  QComboBox* preset_;
};

}  // namespace zel::app

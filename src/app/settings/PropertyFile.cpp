#include "app/settings/PropertyFile.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>

#include "General/MediaTypes.h"

namespace zel::app {
namespace {

QString FromUtf8(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

QString ChooseExistingFolder(QWidget* owner, const QString& title, const QString& start) {
  return QFileDialog::getExistingDirectory(owner, title, start);
}

PropertyFile::PropertyFile(FolderChooser chooser, QWidget* parent)
    : PropertyPage(parent), chooser_(std::move(chooser)) {
  setObjectName("PropertyFile");
  directory_ = new QLineEdit(this);
  directory_->setObjectName("1150");
  directory_->setMinimumWidth(320);
  auto* browse = new QPushButton("...", this);
  browse->setObjectName("1151");
  browse->setAutoDefault(false);
  browse->setFixedWidth(browse->fontMetrics().horizontalAdvance("....") + 16);

  file3gp_ = new QCheckBox("3GP", this);
  file3gp_->setObjectName("1152");
  file3g2_ = new QCheckBox("3G2", this);
  file3g2_->setObjectName("1153");
  log_ = new QCheckBox("LOG", this);
  log_->setObjectName("1154");

  interval_ = makeCombo("1155");
  pattern_ = new QLineEdit(this);
  pattern_->setObjectName("1163");
  preset_ = makeCombo("1165");

  auto* directoryRow = new QHBoxLayout;
  directoryRow->addWidget(directory_, 1);
  directoryRow->addWidget(browse);
  auto* formatRow = new QHBoxLayout;
  formatRow->setSpacing(16);
  formatRow->addWidget(file3gp_);
  formatRow->addWidget(file3g2_);
  formatRow->addWidget(log_);
  formatRow->addStretch(1);
  auto* patternRow = new QHBoxLayout;
  patternRow->addWidget(pattern_, 1);
  patternRow->addWidget(preset_);

  QFormLayout* form = makeForm();
  form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
  form->addRow("DIRECTORY", directoryRow);
  form->addRow("FORMAT", formatRow);
  form->addRow("INTERVAL", interval_);
  form->addRow("EDITFILENAME", patternRow);

  connect(browse, &QPushButton::clicked, this, &PropertyFile::browse);
  connect(preset_, &QComboBox::activated, this, &PropertyFile::presetChosen);
  connect(directory_, &QLineEdit::textChanged, this, &PropertyFile::markModified);
  connect(pattern_, &QLineEdit::textChanged, this, &PropertyFile::markModified);
  connect(interval_, &QComboBox::currentIndexChanged, this, &PropertyFile::markModified);
  for (QCheckBox* box : {file3gp_, file3g2_, log_}) {
    connect(box, &QCheckBox::toggled, this, &PropertyFile::markModified);
  }
}

void PropertyFile::loadControls(ConversionSettings& settings) {
  FillCombo(interval_, IntervalList());
  SelectClamped(interval_, static_cast<int>(settings.splittime / kHnsPerSecond));
  {
    // The presets only fill in a pattern; which one made the stored pattern
    // is not kept, so the box always starts at the first.
    const QSignalBlocker blocker(preset_);
    preset_->clear();
    for (const NamePatternPreset& preset : NamePatternPresets()) {
      preset_->addItem(FromUtf8(preset.text));
    }
    preset_->setCurrentIndex(0);
  }
  log_->setChecked(settings.logfile != 0);
  file3gp_->setChecked(settings.file3gp != 0);
  file3g2_->setChecked(settings.file3g2 != 0);
  directory_->setText(QString::fromStdString(settings.result));
  directory_->setCursorPosition(0);  // a long path shows where it starts
  pattern_->setText(QString::fromStdString(settings.edit));
}

void PropertyFile::presetChosen(int index) {
  const auto presets = NamePatternPresets();
  if (index < 0 || static_cast<std::size_t>(index) >= presets.size()) return;
  pattern_->setText(FromUtf8(presets[static_cast<std::size_t>(index)].pattern));
}

void PropertyFile::browse() {
  const QString chosen = chooser_(this, "フォルダを選択してください", directory_->text());
  if (!chosen.isEmpty()) directory_->setText(chosen);
}

void PropertyFile::commitControls(ConversionSettings& settings) {
  settings.logfile = log_->isChecked() ? 1 : 0;
  settings.file3gp = file3gp_->isChecked() ? 1 : 0;
  settings.file3g2 = file3g2_->isChecked() ? 1 : 0;
  const int seconds =
      SelectedIndex(interval_, static_cast<int>(settings.splittime / kHnsPerSecond));
  settings.splittime = std::int64_t{seconds} * kHnsPerSecond;
  settings.result = directory_->text().toStdString();
  settings.edit = pattern_->text().toStdString();
}

}  // namespace zel::app

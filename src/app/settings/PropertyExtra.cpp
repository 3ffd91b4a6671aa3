#include "app/settings/PropertyExtra.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QSpinBox>
#include <QVBoxLayout>

namespace zel::app {

namespace {

// A line of explanation below a control.
// Where a check box's caption starts, past its square.
constexpr int kCaptionIndent = 22;

void AddNote(QWidget* page, QVBoxLayout* layout, const char* explanation) {
  auto* note = new QLabel(QString::fromUtf8(explanation), page);
  note->setWordWrap(true);
  note->setIndent(kCaptionIndent);  // under the box's text, not under its square
  QFont small = note->font();
  small.setPointSizeF(small.pointSizeF() * 0.9);
  note->setFont(small);
  layout->addWidget(note);
  layout->addSpacing(4);
}

// A check box named after its setting, with a line of explanation below it.
QCheckBox* AddChoice(QWidget* page, QVBoxLayout* layout, const char* key, const char* caption,
                     const char* explanation) {
  auto* box = new QCheckBox(QString::fromUtf8(caption), page);
  box->setObjectName(key);
  layout->addWidget(box);
  AddNote(page, layout, explanation);
  return box;
}

// A number of KiB named after its setting, 0 shown as no limit.
QSpinBox* AddKibLimit(QWidget* page, QVBoxLayout* layout, const char* key, const char* caption,
                      const char* explanation) {
  auto* box = new QSpinBox(page);
  box->setObjectName(key);
  box->setRange(0, 4194303);  // below 4 GiB, the files' own limit
  box->setSpecialValueText(QString::fromUtf8("制限なし"));
  auto* label = new QLabel(QString::fromUtf8(caption), page);
  label->setIndent(kCaptionIndent);  // in line with the check boxes' captions
  label->setBuddy(box);
  auto* row = new QHBoxLayout;
  row->addWidget(label);
  row->addWidget(box);
  row->addStretch();
  layout->addLayout(row);
  AddNote(page, layout, explanation);
  return box;
}

}  // namespace

PropertyExtra::PropertyExtra(QWidget* parent) : PropertyPage(parent) {
  setObjectName("PropertyExtra");
  auto* layout = new QVBoxLayout(this);
  keepAspect_ = AddChoice(this, layout, "keepaspect", "縦横比を保つ",
                          "映像を引き伸ばさず、元の縦横比のまま黒い帯を付けて収めます。");
  smoothScale_ = AddChoice(this, layout, "smoothscale", "なめらかに縮小する",
                           "画素を平均して縮小し、斜めの線のギザギザを抑えます。");
  anyInput_ = AddChoice(this, layout, "anyinput", "すべてのメディアファイルを読み込む",
                        "MP4・MOV・MKV・MP3・FLAC なども、音声か映像があれば変換できます。");
  maxSize_ = AddKibLimit(this, layout, "maxsize", "ファイルサイズの上限 (KB)",
                         "どのファイルもこの大きさに収まるよう、映像のビットレートを下げます。");
  connect(maxSize_, &QSpinBox::valueChanged, this, &PropertyExtra::markModified);
  normalize_ =
      AddChoice(this, layout, "normalize", "音量をそろえる",
                "音の大きさを測り、小さすぎる音も大きすぎる音も聞きやすい音量にそろえます。");
  layout->addStretch();
  for (QCheckBox* box : {keepAspect_, smoothScale_, anyInput_, normalize_}) {
    connect(box, &QCheckBox::toggled, this, &PropertyExtra::markModified);
  }
}

void PropertyExtra::loadControls(ConversionSettings& settings) {
  keepAspect_->setChecked(settings.keepaspect != 0);
  smoothScale_->setChecked(settings.smoothscale != 0);
  anyInput_->setChecked(settings.anyinput != 0);
  maxSize_->setValue(settings.maxsize);
  normalize_->setChecked(settings.normalize != 0);
}

void PropertyExtra::commitControls(ConversionSettings& settings) {
  settings.keepaspect = keepAspect_->isChecked() ? 1 : 0;
  settings.smoothscale = smoothScale_->isChecked() ? 1 : 0;
  settings.anyinput = anyInput_->isChecked() ? 1 : 0;
  settings.maxsize = maxSize_->value();
  settings.normalize = normalize_->isChecked() ? 1 : 0;
}

}  // namespace zel::app

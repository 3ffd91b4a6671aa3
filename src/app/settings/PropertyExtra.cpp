#include "app/settings/PropertyExtra.h"

#include <QCheckBox>
#include <QLabel>
#include <QVBoxLayout>

namespace zel::app {

namespace {

// A check box named after its setting, with a line of explanation below it.
QCheckBox* AddChoice(QWidget* page, QVBoxLayout* layout, const char* key, const char* caption,
                     const char* explanation) {
  auto* box = new QCheckBox(QString::fromUtf8(caption), page);
  box->setObjectName(key);
  auto* note = new QLabel(QString::fromUtf8(explanation), page);
  note->setWordWrap(true);
  note->setIndent(22);  // under the box's text, not under its square
  QFont small = note->font();
  small.setPointSizeF(small.pointSizeF() * 0.9);
  note->setFont(small);
  layout->addWidget(box);
  layout->addWidget(note);
  layout->addSpacing(4);
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
  normalize_->setChecked(settings.normalize != 0);
}

void PropertyExtra::commitControls(ConversionSettings& settings) {
  settings.keepaspect = keepAspect_->isChecked() ? 1 : 0;
  settings.smoothscale = smoothScale_->isChecked() ? 1 : 0;
  settings.anyinput = anyInput_->isChecked() ? 1 : 0;
  settings.normalize = normalize_->isChecked() ? 1 : 0;
}

}  // namespace zel::app

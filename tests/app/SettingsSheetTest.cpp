#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QtTest>
#include <tuple>

#include "app/settings/SettingsSheet.h"
#include "common/TestSupport.h"
#include "settings/ConversionSettings.h"

namespace zel::app {
namespace {

constexpr int kAudio = 0, kVideo = 1, kFile = 2, kEtcetra = 3, kExtra = 4;
const QString kPowerOfTwoRate = "フレームレートに2の乗数は選べません。最も近い値に変更します。";
const QString kNoVideo = "ビデオコーデックに「none」は選べません。";

// The settings after a first start without setup.ini.
ConversionSettings StartSettings() {
  ConversionSettings settings;
  settings.result = "/home/user/out";
  ApplyDefaultSettings(settings);
  ComputeMeasureStep(settings);
  return settings;
}

QStringList Items(const QComboBox* combo) {
  QStringList items;
  for (int i = 0; i < combo->count(); ++i) items << combo->itemText(i);
  return items;
}

// One opening of the sheet, driven through its widgets as a user does.
struct Opened {
  explicit Opened(ConversionSettings& settings, FolderChooser chooser = ChooseExistingFolder)
      : sheet(settings, notifier, nullptr, std::move(chooser)),
        tabs(sheet.findChild<QTabWidget*>()) {}

  // A control of a page, switched to as a click on its tab does.
  template <class Control>
  Control* control(int page, const char* id) {
    tabs->setCurrentIndex(page);
    auto* found = tabs->widget(page)->findChild<Control*>(id);
    if (found == nullptr) qFatal("page %d has no control %s", page, id);
    return found;
  }
  QComboBox* combo(int page, const char* id) { return control<QComboBox>(page, id); }
  QLineEdit* edit(int page, const char* id) { return control<QLineEdit>(page, id); }
  // Picks the entry with that text.
  void choose(int page, const char* id, const QString& text) {
    QComboBox* box = combo(page, id);
    const int index = box->findText(text);
    if (index < 0) qFatal("no entry %s", qPrintable(text));
    box->setCurrentIndex(index);
    emit box->activated(index);
  }
  QPushButton* button(QDialogButtonBox::StandardButton which) {
    return sheet.findChild<QDialogButtonBox*>()->button(which);
  }
  void press(QDialogButtonBox::StandardButton which) { button(which)->click(); }
  QStringList messages() const {
    QStringList list;
    for (const std::string& m : notifier.messages()) list << QString::fromStdString(m);
    return list;
  }

  test::RecordingNotifier notifier;
  SettingsSheet sheet;
  QTabWidget* tabs;
};

}  // namespace

class SettingsSheetTest : public QObject {
  Q_OBJECT

 private slots:
  // AMR is 8000 Hz mono at 48000 bit/s; AAC 32000 bit/s at its first rate,
  // 64000 at the others.
  void audioListsFollowTheFormat() {
    ConversionSettings settings = StartSettings();
    settings.samplerate = 2;  // aac 22050
    Opened o(settings);
    QComboBox* rate = o.combo(kAudio, "1144");
    QLineEdit* bitRate = o.edit(kAudio, "1149");
    QCOMPARE(rate->currentText() + " " + bitRate->text(), "22050 64000");
    o.choose(kAudio, "1017", "amr");
    QCOMPARE(Items(rate) + Items(o.combo(kAudio, "1019")) << bitRate->text(),
             QStringList({"8000", "MONO", "48000"}));
    o.choose(kAudio, "1017", "aac");
    QCOMPARE(rate->currentText() + " " + bitRate->text(), "8000 32000");
    o.choose(kAudio, "1144", "16000");
    QCOMPARE(bitRate->text(), "64000");
    o.choose(kAudio, "1144", "8000");
    QCOMPARE(bitRate->text(), "32000");
    o.choose(kAudio, "1144", "24000");
    o.choose(kAudio, "1019", "STEREO");
    o.press(QDialogButtonBox::Ok);
    QCOMPARE(std::tie(settings.mpeg_audio, settings.samplerate, settings.channels),
             std::make_tuple(1, 3, 1));
  }

  void videoFrameRateRule_data() {
    QTest::addColumn<QString>("format");
    QTest::addColumn<int>("rate");
    QTest::addColumn<int>("committed");
    QTest::addColumn<QStringList>("messages");
    QTest::newRow("mpeg4 16") << "mpeg4" << 16 << 17 << QStringList{kPowerOfTwoRate};
    QTest::newRow("mpeg4 2") << "mpeg4" << 2 << 3 << QStringList{kPowerOfTwoRate};
    QTest::newRow("mpeg4 1") << "mpeg4" << 1 << 1 << QStringList{};
    QTest::newRow("mpeg4 12") << "mpeg4" << 12 << 12 << QStringList{};
    QTest::newRow("h263 16") << "h263" << 16 << 16 << QStringList{};
    QTest::newRow("none 8") << "none" << 8 << 8 << QStringList{kNoVideo};
  }
  void videoFrameRateRule() {
    QFETCH(QString, format);
    QFETCH(int, rate);
    QFETCH(int, committed);
    QFETCH(QStringList, messages);
    ConversionSettings settings = StartSettings();
    Opened o(settings);
    QVERIFY(!o.button(QDialogButtonBox::Apply)->isEnabled());  // nothing changed yet
    o.choose(kVideo, "1017", format);
    o.choose(kVideo, "1019", QString::number(rate));
    o.press(QDialogButtonBox::Apply);
    QCOMPARE(o.messages(), messages);
    QCOMPARE(settings.mpeg_video, o.combo(kVideo, "1017")->findText(format));
    QCOMPARE(settings.framerate, committed);
    // The frame sizes follow the format: H.263 offers its two (the start's
    // 320x240 gives way to the first), no video none.
    const QString sizes = format == "h263"   ? "128x96 176x144 0"
                          : format == "none" ? "0 0"
                                             : "128x96 176x144 320x240 2";
    QCOMPARE(Items(o.combo(kVideo, "1142")).join(" ") + " " + QString::number(settings.framesize),
             sizes);
    QCOMPARE(o.combo(kVideo, "1019")->currentText(), QString::number(committed));
    QVERIFY(!o.button(QDialogButtonBox::Apply)->isEnabled());
    // A page shown again keeps what was chosen on it; Cancel keeps what was
    // applied.
    o.choose(kAudio, "1017", "none");
    o.tabs->setCurrentIndex(kVideo);
    QCOMPARE(o.combo(kAudio, "1017")->currentText(), "none");
    o.press(QDialogButtonBox::Cancel);
    QCOMPARE(o.sheet.result(), int{QDialog::Rejected});
    QCOMPARE(std::tie(settings.mpeg_audio, settings.framerate), std::make_tuple(1, committed));
  }

  // Every control of the FILE page commits; the interval in 100-ns units.
  // The folder chooser starts at the typed folder; cancelling it changes
  // nothing.
  void filePageCommitsEveryControl() {
    ConversionSettings settings = StartSettings();
    settings.splittime = 50'000'000;
    QStringList asked;
    QStringList answers = {"/出力/フォルダ", ""};
    Opened o(settings, [&](QWidget*, const QString& title, const QString& start) {
      asked << title + "|" + start;
      return answers.takeFirst();
    });
    QCOMPARE(o.combo(kFile, "1155")->currentText(), "5");
    QCOMPARE(o.edit(kFile, "1150")->text(), "/home/user/out");
    o.edit(kFile, "1150")->setText("/typed/folder");
    o.control<QPushButton>(kFile, "1151")->click();
    o.control<QPushButton>(kFile, "1151")->click();  // cancelled
    QCOMPARE(asked, QStringList({"フォルダを選択してください|/typed/folder",
                                 "フォルダを選択してください|/出力/フォルダ"}));
    o.choose(kFile, "1165", "file_00");  // a preset fills in the pattern
    QCOMPARE(o.edit(kFile, "1163")->text(), "file_%02d");
    o.edit(kFile, "1163")->setText("clip_%03d");
    o.control<QCheckBox>(kFile, "1152")->click();
    o.control<QCheckBox>(kFile, "1154")->click();
    o.choose(kFile, "1155", "30");
    o.press(QDialogButtonBox::Apply);
    QCOMPARE(std::tie(settings.file3gp, settings.file3g2, settings.logfile, settings.splittime),
             std::make_tuple(0, 1, 1, std::int64_t{300'000'000}));
    QCOMPARE(settings.result + " " + settings.edit, "/出力/フォルダ clip_%03d");
    o.choose(kFile, "1155", "0");
    o.press(QDialogButtonBox::Ok);
    QCOMPARE(settings.splittime, std::int64_t{0});
  }

  // The EXTRA page shows what is set and commits every control; 0 KB is no
  // limit. So does the ETCETRA page; the pages never shown keep their
  // settings.
  void extraPagesCommitEveryControlAndOthersKeepTheirs() {
    ConversionSettings settings = StartSettings();
    settings.keepaspect = 1, settings.maxsize = 300, settings.normalize = 0;
    settings.mpeg_video = 0;  // would warn if the VIDEO page committed
    settings.edit = "keep_%d", settings.splittime = 70'000'000;
    settings.logfile = 1, settings.file3gp = 0;
    const ConversionSettings before = settings;
    Opened o(settings);
    auto* limit = o.control<QSpinBox>(kExtra, "maxsize");
    QCOMPARE(
        std::make_tuple(limit->value(), o.control<QCheckBox>(kExtra, "keepaspect")->isChecked(),
                        o.control<QCheckBox>(kExtra, "normalize")->isChecked()),
        std::make_tuple(300, true, false));
    limit->setValue(150);
    o.control<QCheckBox>(kExtra, "normalize")->click();
    o.control<QCheckBox>(kExtra, "anyinput")->click();
    o.press(QDialogButtonBox::Apply);
    QCOMPARE(std::tie(settings.maxsize, settings.normalize, settings.anyinput, settings.keepaspect),
             std::make_tuple(150, 1, 1, 1));
    limit->setValue(0);
    QCOMPARE(limit->text(), "制限なし");
    o.choose(kEtcetra, "1017", "0.010");
    o.choose(kEtcetra, "1164", "64x48");
    o.control<QCheckBox>(kEtcetra, "1162")->click();
    o.press(QDialogButtonBox::Ok);
    QCOMPARE(std::tie(settings.maxsize, settings.measure, settings.measure_step,
                      settings.capturesize, settings.adjustframe),
             std::make_tuple(0, 2, 10, 1, 1));
    QCOMPARE(std::tie(settings.result, settings.edit, settings.splittime, settings.logfile,
                      settings.file3gp, settings.file3g2, settings.mpeg_video),
             std::tie(before.result, before.edit, before.splittime, before.logfile, before.file3gp,
                      before.file3g2, before.mpeg_video));
    QVERIFY(o.messages().isEmpty());
  }

  void indexesThatSelectNothing() {
    ConversionSettings settings = StartSettings();
    settings.mpeg_audio = 7, settings.samplerate = 9, settings.mpeg_video = -1;
    settings.framesize = 5, settings.framerate = 99, settings.splittime = -30'000'000;
    settings.measure = 8, settings.capturesize = -2;
    // a preset's pattern, shown as it is; its box starts at the first entry all the same
    settings.edit = "file_%02d";
    Opened o(settings);
    for (int page : {kAudio, kVideo, kFile, kEtcetra}) o.tabs->setCurrentIndex(page);
    // The format indexes are reset as their pages open; the others are
    // shown as the first entry and committed so.
    QCOMPARE(std::tie(settings.mpeg_audio, settings.mpeg_video), std::make_tuple(0, 0));
    const std::pair<int, const char*> combos[] = {
        {kAudio, "1144"}, {kVideo, "1142"},   {kVideo, "1019"},  {kFile, "1155"},
        {kFile, "1165"},  {kEtcetra, "1017"}, {kEtcetra, "1164"}};
    for (const auto& [page, id] : combos) QCOMPARE(o.combo(page, id)->currentIndex(), 0);
    // A combo box left without a selection keeps the index it had.
    settings.capturesize = 2;
    o.combo(kEtcetra, "1164")->setCurrentIndex(-1);
    o.press(QDialogButtonBox::Ok);
    QCOMPARE(std::tie(settings.samplerate, settings.framesize, settings.framerate,
                      settings.splittime, settings.measure, settings.capturesize, settings.edit),
             std::make_tuple(0, 0, 0, std::int64_t{0}, 0, 2, std::string("file_%02d")));
  }
};

}  // namespace zel::app

QTEST_MAIN(zel::app::SettingsSheetTest)
#include "SettingsSheetTest.moc"

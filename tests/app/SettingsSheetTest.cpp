#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QtTest>
#include <tuple>

#include "app/settings/SettingsSheet.h"
#include "common/TestSupport.h"
#include "settings/ConversionSettings.h"

namespace zel::app {
namespace {

constexpr int kAudio = 0, kVideo = 1, kFile = 2, kEtcetra = 3;
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

// Picks the entry with text as a user does.
void Choose(QComboBox* combo, const QString& text) {
  const int index = combo->findText(text);
  if (index < 0) qFatal("no entry %s", qPrintable(text));
  combo->setCurrentIndex(index);
  emit combo->activated(index);
}

QStringList Messages(const test::RecordingNotifier& notifier) {
  QStringList messages;
  for (const std::string& m : notifier.messages()) messages << QString::fromStdString(m);
  return messages;
}

// One opening of the sheet, driven through its widgets.
struct Opened {
  explicit Opened(ConversionSettings& settings, FolderChooser chooser = ChooseExistingFolder)
      : sheet(settings, notifier, nullptr, std::move(chooser)),
        tabs(sheet.findChild<QTabWidget*>()),
        buttons(sheet.findChild<QDialogButtonBox*>()) {}

  // Switches to a page, as a click on its tab does, and returns it.
  QWidget* show(int page) {
    tabs->setCurrentIndex(page);
    return tabs->widget(page);
  }
  template <class Control>
  Control* control(int page, const char* id) {
    auto* found = tabs->widget(page)->findChild<Control*>(id);
    if (found == nullptr) qFatal("page %d has no control %s", page, id);
    return found;
  }
  QComboBox* combo(int page, const char* id) { return control<QComboBox>(page, id); }
  QLineEdit* edit(int page, const char* id) { return control<QLineEdit>(page, id); }
  QCheckBox* check(int page, const char* id) { return control<QCheckBox>(page, id); }
  QPushButton* button(QDialogButtonBox::StandardButton which) { return buttons->button(which); }
  void press(QDialogButtonBox::StandardButton which) { button(which)->click(); }

  test::RecordingNotifier notifier;
  SettingsSheet sheet;
  QTabWidget* tabs;
  QDialogButtonBox* buttons;
};

auto Fields(const ConversionSettings& s) {
  return std::tie(s.mpeg_audio, s.mpeg_video, s.samplerate, s.channels, s.framesize, s.framerate,
                  s.splittime, s.capturesize, s.measure, s.adjustframe, s.logfile, s.file3gp,
                  s.file3g2, s.result, s.edit);
}

}  // namespace

class SettingsSheetTest : public QObject {
  Q_OBJECT

 private slots:
  void audioListsFollowTheFormat() {
    ConversionSettings settings = StartSettings();
    settings.samplerate = 2;  // aac 22050
    Opened opened(settings);
    QComboBox* format = opened.combo(kAudio, "1017");
    QComboBox* rate = opened.combo(kAudio, "1144");
    QComboBox* channels = opened.combo(kAudio, "1019");
    QLineEdit* bitRate = opened.edit(kAudio, "1149");
    QCOMPARE(rate->currentText(), "22050");
    QCOMPARE(bitRate->text(), "64000");

    Choose(format, "amr");
    QCOMPARE(Items(rate), QStringList{"8000"});
    QCOMPARE(Items(channels), QStringList{"MONO"});
    QCOMPARE(rate->currentIndex(), 0);
    QCOMPARE(channels->currentIndex(), 0);
    QCOMPARE(bitRate->text(), "48000");

    Choose(format, "aac");
    QCOMPARE(rate->currentText(), "8000");
    QCOMPARE(bitRate->text(), "32000");
    const std::pair<const char*, const char*> steps[] = {
        {"16000", "64000"}, {"22050", "64000"}, {"8000", "32000"}, {"24000", "64000"}};
    for (const auto& [hz, bitsPerSecond] : steps) {
      Choose(rate, hz);
      QCOMPARE(bitRate->text(), bitsPerSecond);
    }
    Choose(channels, "STEREO");
    opened.press(QDialogButtonBox::Ok);
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
    Opened opened(settings);
    opened.show(kVideo);
    QComboBox* formats = opened.combo(kVideo, "1017");
    QComboBox* rates = opened.combo(kVideo, "1019");
    QCOMPARE(rates->itemText(0), "変更なし");
    Choose(formats, format);
    Choose(rates, QString::number(rate));
    opened.press(QDialogButtonBox::Apply);
    QCOMPARE(Messages(opened.notifier), messages);
    QCOMPARE(settings.mpeg_video, formats->findText(format));
    QCOMPARE(settings.framerate, committed);
    QCOMPARE(rates->currentText(), QString::number(committed));
    QVERIFY(!opened.button(QDialogButtonBox::Apply)->isEnabled());
  }

  void videoFormatRefillsFrameSize() {
    ConversionSettings settings = StartSettings();  // mpeg4 320x240
    Opened opened(settings);
    opened.show(kVideo);
    QComboBox* sizes = opened.combo(kVideo, "1142");
    QCOMPARE(sizes->currentText(), "320x240");
    QCOMPARE(opened.edit(kVideo, "1033")->text(), "200000");
    Choose(opened.combo(kVideo, "1017"), "h263");
    QCOMPARE(Items(sizes), QStringList({"128x96", "176x144"}));
    QCOMPARE(sizes->currentText(), "128x96");
    opened.press(QDialogButtonBox::Ok);
    QCOMPARE(std::tie(settings.mpeg_video, settings.framesize), std::make_tuple(1, 0));
  }

  void presetFillsThePatternAndStartsAtTheFirstNextTime() {
    ConversionSettings settings = StartSettings();
    {
      Opened opened(settings);
      opened.show(kFile);
      QCOMPARE(opened.combo(kFile, "1165")->currentText(), "000000");
      Choose(opened.combo(kFile, "1165"), "file_00");
      QCOMPARE(opened.edit(kFile, "1163")->text(), "file_%02d");
      opened.press(QDialogButtonBox::Ok);
    }
    QCOMPARE(settings.edit, "file_%02d");
    Opened again(settings);
    again.show(kFile);
    QCOMPARE(again.combo(kFile, "1165")->currentText(), "000000");
    QCOMPARE(again.edit(kFile, "1163")->text(), "file_%02d");
  }

  void intervalCommitsHns_data() {
    QTest::addColumn<QString>("seconds");
    QTest::addColumn<qint64>("splittime");
    QTest::newRow("30") << "30" << qint64{300'000'000};
    QTest::newRow("0") << "0" << qint64{0};
  }

  void intervalCommitsHns() {
    QFETCH(QString, seconds);
    QFETCH(qint64, splittime);
    ConversionSettings settings = StartSettings();
    settings.splittime = 50'000'000;
    Opened opened(settings);
    opened.show(kFile);
    QCOMPARE(opened.combo(kFile, "1155")->currentText(), "5");
    Choose(opened.combo(kFile, "1155"), seconds);
    opened.press(QDialogButtonBox::Ok);
    QCOMPARE(settings.splittime, splittime);
  }

  void pagesNeverShownKeepTheirSettings() {
    ConversionSettings settings = StartSettings();
    settings.mpeg_video = 0;  // would warn if the VIDEO page committed
    settings.edit = "keep_%d";
    settings.splittime = 70'000'000;
    settings.logfile = 1;
    settings.file3gp = 0;
    const ConversionSettings before = settings;
    Opened opened(settings);
    opened.show(kEtcetra);
    Choose(opened.combo(kEtcetra, "1017"), "0.010");
    Choose(opened.combo(kEtcetra, "1164"), "64x48");
    opened.check(kEtcetra, "1162")->click();
    opened.press(QDialogButtonBox::Ok);
    QCOMPARE(std::tie(settings.measure, settings.measure_step, settings.capturesize,
                      settings.adjustframe),
             std::make_tuple(2, 10, 1, 1));
    QCOMPARE(std::tie(settings.result, settings.edit, settings.splittime, settings.logfile,
                      settings.file3gp, settings.file3g2, settings.mpeg_video),
             std::tie(before.result, before.edit, before.splittime, before.logfile, before.file3gp,
                      before.file3g2, before.mpeg_video));
    QVERIFY(opened.notifier.messages().empty());
  }

  void applyThenCancelKeepsWhatWasApplied() {
    ConversionSettings settings = StartSettings();
    Opened opened(settings);
    QPushButton* apply = opened.button(QDialogButtonBox::Apply);
    QVERIFY(!apply->isEnabled());
    Choose(opened.combo(kAudio, "1017"), "amr");
    QVERIFY(apply->isEnabled());
    apply->click();
    QCOMPARE(settings.mpeg_audio, 2);
    QVERIFY(!apply->isEnabled());
    Choose(opened.combo(kAudio, "1017"), "none");
    opened.show(kVideo);
    Choose(opened.combo(kVideo, "1019"), "15");
    opened.show(kAudio);  // back on a page: the user's choice is still there
    QCOMPARE(opened.combo(kAudio, "1017")->currentText(), "none");
    opened.press(QDialogButtonBox::Cancel);
    QCOMPARE(opened.sheet.result(), int{QDialog::Rejected});
    QCOMPARE(std::tie(settings.mpeg_audio, settings.framerate), std::make_tuple(2, 0));
  }

  void indexesThatSelectNothing() {
    ConversionSettings settings = StartSettings();
    settings.mpeg_audio = 7;
    settings.samplerate = 9;
    settings.mpeg_video = -1;
    settings.framesize = 5;
    settings.framerate = 99;
    settings.splittime = -30'000'000;
    settings.measure = 8;
    settings.capturesize = -2;
    Opened opened(settings);
    for (int page : {kAudio, kVideo, kFile, kEtcetra}) opened.show(page);
    // The format indexes are reset as their pages open; the others are
    // shown as the first entry and committed so.
    QCOMPARE(std::tie(settings.mpeg_audio, settings.mpeg_video), std::make_tuple(0, 0));
    const std::pair<int, const char*> combos[] = {{kAudio, "1144"},   {kVideo, "1142"},
                                                  {kVideo, "1019"},   {kFile, "1155"},
                                                  {kEtcetra, "1017"}, {kEtcetra, "1164"}};
    for (const auto& [page, id] : combos) QCOMPARE(opened.combo(page, id)->currentIndex(), 0);
    // A combo box left without a selection keeps the index it had.
    settings.capturesize = 2;
    opened.combo(kEtcetra, "1164")->setCurrentIndex(-1);
    opened.press(QDialogButtonBox::Ok);
    QCOMPARE(std::tie(settings.samplerate, settings.framesize, settings.framerate,
                      settings.splittime, settings.measure, settings.capturesize),
             std::make_tuple(0, 0, 0, std::int64_t{0}, 0, 2));
  }

  void folderChooserStartsAtTheTypedFolder() {
    ConversionSettings settings = StartSettings();
    QStringList asked;
    QStringList answers = {"/chosen/folder", ""};  // the second time the user cancels
    Opened opened(settings, [&](QWidget*, const QString& title, const QString& start) {
      asked << title + "|" + start;
      return answers.takeFirst();
    });
    opened.show(kFile);
    QLineEdit* directory = opened.edit(kFile, "1150");
    QCOMPARE(directory->text(), "/home/user/out");
    directory->setText("/typed/folder");
    opened.control<QPushButton>(kFile, "1151")->click();
    QCOMPARE(directory->text(), "/chosen/folder");
    opened.control<QPushButton>(kFile, "1151")->click();
    QCOMPARE(directory->text(), "/chosen/folder");
    QCOMPARE(asked, QStringList({"フォルダを選択してください|/typed/folder",
                                 "フォルダを選択してください|/chosen/folder"}));
    opened.press(QDialogButtonBox::Ok);
    QCOMPARE(settings.result, "/chosen/folder");
  }

  void committedSettingsSurviveSetupIni() {
    test::TempDir dir;
    const std::string original =
        "; written by hand\n[zel]\nresult=/old\nwindow=left # not ours\nmpeg_audio=1\n3gpfile=1\n"
        "[other]\nx=1\n";
    test::WriteFileBytes(dir.path() / "setup.ini", {original.begin(), original.end()});
    ConversionSettings settings = StartSettings();
    LoadSettings(settings, dir.path());
    {
      Opened opened(settings);
      Choose(opened.combo(kAudio, "1017"), "amr");
      opened.show(kVideo);
      Choose(opened.combo(kVideo, "1017"), "h263");
      Choose(opened.combo(kVideo, "1142"), "176x144");
      Choose(opened.combo(kVideo, "1019"), "15");
      opened.show(kFile);
      opened.edit(kFile, "1150")->setText("/出力/フォルダ");
      opened.edit(kFile, "1163")->setText("clip_%03d");
      opened.check(kFile, "1152")->click();
      opened.check(kFile, "1154")->click();
      Choose(opened.combo(kFile, "1155"), "10");
      opened.show(kEtcetra);
      Choose(opened.combo(kEtcetra, "1017"), "0.001");
      Choose(opened.combo(kEtcetra, "1164"), "128x96");
      opened.press(QDialogButtonBox::Ok);
    }
    QVERIFY(SaveSettings(settings, dir.path()));
    ConversionSettings back;
    LoadSettingsFile(back, dir.path() / "setup.ini");
    QVERIFY(Fields(back) == Fields(settings));
    QCOMPARE(std::tie(back.mpeg_audio, back.mpeg_video, back.framesize, back.framerate,
                      back.splittime, back.measure, back.capturesize, back.file3gp, back.logfile),
             std::make_tuple(2, 1, 1, 15, std::int64_t{100'000'000}, 3, 2, 0, 1));
    QCOMPARE(back.result, "/出力/フォルダ");
    QCOMPARE(back.edit, "clip_%03d");
    const std::string text = test::ReadFileText(dir.path() / "setup.ini");
    for (const char* kept :
         {"; written by hand\n[zel]\n", "window=left # not ours\n", "[other]\nx=1\n"}) {
      QVERIFY2(text.find(kept) != std::string::npos, kept);
    }
  }
};

}  // namespace zel::app

QTEST_MAIN(zel::app::SettingsSheetTest)
#include "SettingsSheetTest.moc"

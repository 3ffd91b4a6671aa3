// Zel.html is taken from the start directory before the data folder.
#include <QtTest>

#include "HelpPage.h"

class HelpPageTest : public QObject {
  Q_OBJECT

 private slots:
  void startDirectoryComesFirst() {
    QTemporaryDir start, data, empty;
    const auto put = [](const QTemporaryDir& dir) {
      QFile page(dir.filePath(kHelpPageName));
      QVERIFY(page.open(QIODevice::WriteOnly));
    };
    put(start);
    put(data);
    QCOMPARE(FindHelpPage(start.path(), data.path()), start.filePath(kHelpPageName));
    QCOMPARE(FindHelpPage(empty.path(), data.path()), data.filePath(kHelpPageName));
    QVERIFY(FindHelpPage(empty.path(), empty.path()).isEmpty());
    // a folder of that name is no page
    QVERIFY(QDir(empty.path()).mkdir(kHelpPageName));
    QCOMPARE(FindHelpPage(empty.path(), data.path()), data.filePath(kHelpPageName));
  }
};

QTEST_MAIN(HelpPageTest)
#include "HelpPageTest.moc"

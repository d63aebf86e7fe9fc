// A screenshot the main window cannot write; the rest is tested end to end.

#include <QtTest>
#include <QtWidgets>

#include "app/main_window.h"

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void screenshotThatCannotBeWrittenIsLogged()
    {
        const QString dir = QCoreApplication::applicationDirPath() + "/Screenshots", aside = dir + ".aside";
        const bool existed = QDir(dir).exists();
        MainWindow window(nullptr);
        // A plain file where the folder should be: neither folder nor picture can be made.
        QVERIFY(QDir().rename(dir, aside)); // made with the tool bar; its files are kept aside meanwhile
        QFile blocker(dir);
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression("screenshot path create error:"));
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression("screenshot save error:.*Screenshot\\.png"));
        window.saveScreenshot();
        QVERIFY(blocker.remove());
        QVERIFY(QDir().rename(aside, dir) && (existed || QDir().rmdir(dir)));
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_main_window.moc"

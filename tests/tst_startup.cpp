// Start-up: log line, font, and every way out: exit code 0 and the serial port closed. Signals
// are sent to the real program in tst_signals.

#include <QComboBox>
#include <QFileDialog>
#include <QFontDatabase>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QToolButton>
#include <QtTest>

#include "SerialPort/serial_logic.h"
#include "app/app_settings.h"
#include "app/log.h"
#include "app/main_window.h"
#include "app/startup.h"
#include "support/fixtures.h"
#include "support/modal_watcher.h"
#include "support/pty.h"

using namespace tx710test;

namespace {

// Lines matching `pattern` as a whole, '@' standing for the stamp.
int countLines(const LogCapture& log, const char* pattern)
{
    const QString anchored = QRegularExpression::anchoredPattern(QString::fromLatin1(pattern).replace('@', kLogStamp));
    return log.lines().filter(QRegularExpression(anchored)).size();
}

} // namespace

class TestStartup : public QObject
{
    Q_OBJECT
    const FolderCleanup screenshots_{QCoreApplication::applicationDirPath() + QStringLiteral("/Screenshots")};

private slots:

    void logLineFormat()
    {
        LogCapture log;
        TX_LOG << "port" << QStringLiteral("ttyUSB0") << "error" << 9;
        TX_LOG_LOCATED << "created";
        TX_LOG_PLAIN << QStringLiteral("54AB") << "frame find error";
        // Strings quoted, literals and numbers bare, single blanks, none trailing.
        QCOMPARE(log.lines().size(), 3);
        for (const char* pattern : {R"(\[ @ \] port "ttyUSB0" error 9)", R"("54AB" frame find error)",
                                    R"(\[ tests/tst_startup\.cpp : \d+ : logLineFormat @ \] created)"})
            QVERIFY2(countLines(log, pattern) == 1, pattern);
        const QDateTime stamp = QDateTime::fromString(log.lines()[0].mid(3, 23), "yyyy-MM-dd hh:mm:ss:zzz");
        QVERIFY(stamp.isValid());
        QVERIFY(qAbs(stamp.secsTo(QDateTime::currentDateTime())) < 60); // local time
    }

    void applicationFontComesFromTheResource()
    {
        const int id = QFontDatabase::addApplicationFont(QString::fromLatin1(tx710::kApplicationFontResource));
        const QString family = QFontDatabase::applicationFontFamilies(id).value(0, QStringLiteral("none"));
        QCOMPARE(tx710::installApplicationFont().family(), family);
        LogCapture log; // a resource with no font keeps the font and says so
        tx710::installApplicationFont(QStringLiteral(":/Image/logo-03.png"));
        QCOMPARE(QApplication::font().family(), family);
        QCOMPARE(log.lines().filter(QStringLiteral("not loaded")).size(), 1);
    }

    void menuEntryAndWindowAgree()
    {
        tx710::setApplicationIdentity();
        const QString name = QCoreApplication::applicationName(); // Qt's WM_CLASS too
        const QStringList entry = fileLines(fixturePath("../../resources/tx710viewer.desktop"));
        QCOMPARE(entry.filter(QRegularExpression("^(Name|Icon|StartupWMClass)=")),
                 (QStringList{"Name=" + name, "Icon=tx710viewer", "StartupWMClass=" + name}));
        MainWindow window;
        QCOMPARE(window.windowTitle(), name);
        QCOMPARE(window.windowIcon().pixmap(64, 64).toImage(), QIcon(":/tx710viewer.png").pixmap(64, 64).toImage());
    }

    // Before any window: no display needed; a command line not taken ends with 2.
    void commandLineWithoutADisplay_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exit_code");
        QTest::addColumn<QString>("first_line");
        QTest::newRow("--help") << QStringList{"--help"} << 0 << "Usage: " + programPath("TX710Viewer") + " [options]";
        QTest::newRow("--version") << QStringList{"--version"} << 0 << "TX710Viewer " + QString(TX710_TEST_VERSION);
        QTest::newRow("unknown option") << QStringList{"--bogus"} << 2 << "Unknown option 'bogus'.";
        QTest::newRow("stray argument") << QStringList{"stray"} << 2 << "Unexpected argument 'stray'.";
        QTest::newRow("Qt's option is Qt's") << QStringList{"-platform", "xcb", "x"} << 2 << "Unexpected argument 'x'.";
        QTest::newRow("no client allowed")
            << QStringList{"--max-clients", "0"} << 2 << "--max-clients needs a count from 1 to 100000: '0'.";
    }
    void commandLineWithoutADisplay()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, exit_code);
        QFETCH(QString, first_line);
        QProcess viewer;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove("DISPLAY");
        environment.insert("QT_QPA_PLATFORM", "xcb"); // which needs one
        viewer.setProcessEnvironment(environment);
        viewer.setProcessChannelMode(QProcess::MergedChannels);
        viewer.start(programPath("TX710Viewer"), arguments);
        QVERIFY(viewer.waitForFinished(30000));
        QCOMPARE(QString::fromLocal8Bit(viewer.readAll()).section('\n', 0, 0), first_line);
        QCOMPARE(viewer.exitCode(), exit_code);
    }

    // Started on a malformed recording (no port): the reason in a box that blocks nothing, nothing to
    // save, the health line saying why, and an offer of another file.
    void malformedRecordingWithoutAPort()
    {
        QTemporaryDir dir;
        const QString bad = dir.filePath("bad.txt");
        QFile file(bad);
        QVERIFY(file.open(QIODevice::WriteOnly)
                && file.write("Round angle distance intensity\n1 15.000 abc 100\n") > 0);
        file.close();
        const auto session = tx710::StartupSession::forRecording(bad);
        const MainWindow* window = session->mainWindow().get();
        QPushButton* offer = nullptr;
        QTRY_VERIFY((offer = window->findChild<QPushButton*>("open_other_button")));
        const auto* box = window->findChild<QMessageBox*>("failure_box");
        QCOMPARE(box->windowTitle() + '|' + box->text(),
                 "Cannot open recording|Cannot open " + bad + R"(: line 2: distance "abc" is not a number)");
        QCOMPARE(QApplication::activeModalWidget(), nullptr);
        QCOMPARE(window->findChild<QWidget*>("playback_bar")->isVisible(), false);
        const auto* save = window->findChild<QToolButton*>("save_button");
        QCOMPARE(save->isEnabled() ? "enabled" : save->toolTip(), QString("Save records live rounds: no port is open"));
        QTRY_COMPARE_WITH_TIMEOUT(window->findChild<QLabel*>("health_line")->text(),
                                  QString("no port open: Open (Ctrl+O) shows a recording"), 5000);
        QString dialog_title;
        QTimer::singleShot(300, [&] {
            if (auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
                dialog_title = dialog->windowTitle();
                dialog->reject();
            }
        });
        offer->click();
        QTRY_COMPARE(dialog_title, QString("Open recording"));
    }

    void everyWayOutEndsWithZeroAndClosesThePort_data()
    {
        QTest::addColumn<QString>("way");
        QTest::addColumn<QStringList>("boxes");
        QTest::addColumn<int>("bare_stamps"); // the port dialog's ways out log a bare stamp
        QTest::newRow("Cancel") << "cancel" << QStringList{} << 1;
        QTest::newRow("Ok, no such port") << "no port" << QStringList{kNoLidarBox} << 1;
        QTest::newRow("Ok, silent port") << "silent" << QStringList{kNoLidarBox} << 1;
        QTest::newRow("main window closed") << "close" << QStringList{} << 0;
        QTest::newRow("connection lost") << "hang up" << QStringList{kLinkLostBox} << 0;
    }

    void everyWayOutEndsWithZeroAndClosesThePort()
    {
        QFETCH(QString, way);
        QFETCH(QStringList, boxes);
        QFETCH(int, bare_stamps);
        PseudoTerminal pty;
        ModalWatcher watcher;
        LogCapture log;
        tx710::SimulatedLidar lidar;
        const bool streams = way == "close" || way == "hang up";
        QVERIFY(!streams || pty.write(frameBytes(lidar)));
        QStringList locks_while_open;
        {
            tx710::StartupSession session;
            session.dialog().findChild<QComboBox*>()->setEditText(way == "no port" ? "ttyTX710NONE" : pty.slavePath());
            QObject guard; // before the first refresh; 99 when nothing ends the loop
            QTimer::singleShot(100, &guard, [&] {
                session.dialog().findChild<QPushButton*>(way == "cancel" ? "cancel_button" : "ok_button")->click();
            });
            QTimer::singleShot(600, &guard, [&] {
                if (!streams)
                    return;
                locks_while_open = serialLockFiles(pty.slavePath());
                if (way == "close")
                    session.mainWindow()->close();
                else
                    pty.hangUp();
            });
            QTimer::singleShot(10000, &guard, [] { QCoreApplication::exit(99); });
            QCOMPARE(QCoreApplication::exec(), 0);
            QCOMPARE(watcher.seen(), boxes);
        }
        QCOMPARE(countLines(log, R"(\[ @ \])"), bare_stamps);
        QCOMPARE(locks_while_open.size(), streams ? 1 : 0);
        QCOMPARE(serialLockFiles(pty.slavePath()), QStringList());
    }
};

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"

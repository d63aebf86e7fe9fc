// Start-up: the log line, the application font, the port dialog's result
// callback on every path (exit code 0 on each way out), and the about dialog
// and logo strip.

#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QTimer>
#include <QtTest>

#include <chrono>
#include <thread>

#include "SerialPort/serial_logic.h"
#include "SerialPort/simulated_lidar.h"
#include "app/copyright_dialog.h"
#include "app/log.h"
#include "app/logo_widget.h"
#include "app/main_window.h"
#include "app/startup.h"
#include "support/modal_watcher.h"
#include "support/pty.h"

using tx710test::LogCapture;
using tx710test::ModalWatcher;

namespace {

const QString kStamp = QStringLiteral(R"("\d{4}-\d\d-\d\d \d\d:\d\d:\d\d:\d{3}")");

struct CapturedMessage {
    QtMsgType type = QtFatalMsg;
    QString category;
    bool has_location = true;
    QString text;
};

QVector<CapturedMessage> g_messages;

void keepMessage(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    g_messages.append({type, QString::fromLatin1(context.category), context.file != nullptr || context.line != 0,
                       text});
}

int stampOnlyLines(const QStringList& lines)
{
    const QRegularExpression stamp_only(QStringLiteral("^\\[ %1 \\]$").arg(kStamp));
    int count = 0;
    for (const QString& line : lines)
        count += stamp_only.match(line).hasMatch() ? 1 : 0;
    return count;
}

int runEventLoop(int guard_ms)
{
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(99); });
    guard.start(guard_ms);
    return QCoreApplication::exec();
}

QList<MainWindow*> mainWindows()
{
    QList<MainWindow*> windows;
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (auto* window = qobject_cast<MainWindow*>(widget))
            windows.append(window);
    return windows;
}

} // namespace

class TestStartup : public QObject
{
    Q_OBJECT
private slots:
    void cleanup();

    void logLineFormat();
    void applicationFontComesFromTheResource();
    void cancelEndsWithZeroAndNoWindow();
    void failedOpenEndsWithZeroAfterTheBox();
    void openedPortSwapsDialogForMainWindow();
    void aboutDialog();
    void logoWidget();
};

void TestStartup::cleanup()
{
    SerialLogic::instance()->setPortLister({});
    if (auto port = SerialLogic::instance()->serialPort()) {
        QObject::disconnect(port.get(), nullptr, SerialLogic::instance(), nullptr);
        port->close();
    }
}

void TestStartup::logLineFormat()
{
    g_messages.clear();
    const QtMessageHandler previous = qInstallMessageHandler(keepMessage);
    TX_LOG << "setCallback";
    TX_LOG;
    TX_LOG << "port" << QStringLiteral("ttyUSB0") << "error" << 9;
    TX_LOG_LOCATED << "created";
    TX_LOG_PLAIN << QStringLiteral("54AB") << "frame find error";
    qInstallMessageHandler(previous);

    QCOMPARE(g_messages.size(), 5);
    for (const CapturedMessage& message : g_messages) {
        QCOMPARE(message.type, QtDebugMsg);
        QCOMPARE(message.category, QStringLiteral("default"));
        QVERIFY(!message.has_location);
    }
    auto matches = [](const QString& pattern, const QString& text) {
        return QRegularExpression(QStringLiteral("^") + pattern + QStringLiteral("$")).match(text).hasMatch();
    };
    QVERIFY2(matches(QStringLiteral("\\[ %1 \\] setCallback").arg(kStamp), g_messages[0].text),
             qPrintable(g_messages[0].text));
    // No items: the line ends with the closing bracket, no trailing blank.
    QVERIFY2(matches(QStringLiteral("\\[ %1 \\]").arg(kStamp), g_messages[1].text), qPrintable(g_messages[1].text));
    // Strings quoted, literals and integers bare, single blanks between.
    QVERIFY2(matches(QStringLiteral("\\[ %1 \\] port \"ttyUSB0\" error 9").arg(kStamp), g_messages[2].text),
             qPrintable(g_messages[2].text));
    QVERIFY2(matches(QStringLiteral("\\[ tests/tst_startup\\.cpp : \\d+ : logLineFormat %1 \\] created").arg(kStamp),
                     g_messages[3].text),
             qPrintable(g_messages[3].text));
    QCOMPARE(g_messages[4].text, QStringLiteral("\"54AB\" frame find error"));

    // The stamp is the local time of the line.
    const QString stamp = g_messages[0].text.mid(3, 23);
    const QDateTime when = QDateTime::fromString(stamp, QStringLiteral("yyyy-MM-dd hh:mm:ss:zzz"));
    QVERIFY(when.isValid());
    QVERIFY(qAbs(when.secsTo(QDateTime::currentDateTime())) < 60);
}

void TestStartup::applicationFontComesFromTheResource()
{
    const int id = QFontDatabase::addApplicationFont(QString::fromLatin1(tx710::kApplicationFontResource));
    QVERIFY2(id >= 0, "the font resource loads");
    const QStringList families = QFontDatabase::applicationFontFamilies(id);
    QVERIFY(!families.isEmpty());

    QApplication::setFont(QFont(QStringLiteral("DejaVu Sans")));
    const QFont installed = tx710::installApplicationFont();
    QCOMPARE(installed.family(), families.first());
    QCOMPARE(QApplication::font().family(), families.first());
    QVERIFY(!installed.italic());

    // A resource with no font keeps the default font and says so.
    const QFont before = QApplication::font();
    LogCapture log;
    const QFont kept = tx710::installApplicationFont(QStringLiteral(":/Image/logo-03.png"));
    QCOMPARE(kept, before);
    QCOMPARE(QApplication::font(), before);
    QVERIFY(log.contains(QStringLiteral("not loaded")));
}

void TestStartup::cancelEndsWithZeroAndNoWindow()
{
    ModalWatcher watcher;
    LogCapture log;
    int code = -1;
    {
        tx710::StartupSession session;
        QVERIFY(session.dialog().isVisible());
        QVERIFY(log.contains(QStringLiteral("setCallback")));
        QTimer::singleShot(50, [&] {
            session.dialog().findChild<QPushButton*>(QStringLiteral("cancel_button"))->click();
        });
        code = runEventLoop(10000);
        QVERIFY(!session.mainWindow());
    }
    QCOMPARE(code, 0);
    QVERIFY(mainWindows().isEmpty());
    QVERIFY(watcher.boxes().isEmpty());
    QCOMPARE(stampOnlyLines(log.lines()), 1);
}

void TestStartup::failedOpenEndsWithZeroAfterTheBox()
{
    SerialLogic::instance()->setPortLister([] { return QStringList{QStringLiteral("ttyTX710NONE")}; });
    ModalWatcher watcher;
    LogCapture log;
    int code = -1;
    {
        tx710::StartupSession session;
        QTimer::singleShot(800, [&] { // after the first refresh filled the list
            session.dialog().findChild<QPushButton*>(QStringLiteral("ok_button"))->click();
        });
        code = runEventLoop(10000);
        QVERIFY(!session.mainWindow());
        QVERIFY(!session.dialog().isVisible());
    }
    QCOMPARE(code, 0);
    QCOMPARE(watcher.boxes().size(), 1);
    QCOMPARE(watcher.boxes().first().text,
             QStringLiteral("No Lidar detected. please check the connection and restart the software."));
    QCOMPARE(stampOnlyLines(log.lines()), 1);
    QVERIFY(mainWindows().isEmpty());
}

void TestStartup::openedPortSwapsDialogForMainWindow()
{
    tx710test::PseudoTerminal pty;
    QVERIFY(pty.isOpen());
    ModalWatcher watcher;
    tx710::StartupSession session;
    session.dialog().findChild<QComboBox*>(QStringLiteral("serial_combo_box"))->setEditText(pty.slavePath());

    std::thread lidar([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        tx710::SimulatedLidar scene;
        const tx710::FrameBytes frame = scene.nextFrame();
        pty.write(QByteArray(reinterpret_cast<const char*>(frame.data()), int(frame.size())));
    });
    session.dialog().findChild<QPushButton*>(QStringLiteral("ok_button"))->click();
    lidar.join();

    QVERIFY(watcher.boxes().isEmpty());
    QVERIFY(session.mainWindow());
    QVERIFY(session.mainWindow()->isVisible());
    QVERIFY(!session.dialog().isVisible());
    QCOMPARE(mainWindows().size(), 1);

    // A second success replaces the window rather than adding one.
    QPointer<MainWindow> first = session.mainWindow().get();
    session.handlePortResult(true);
    QVERIFY(first.isNull());
    QCOMPARE(mainWindows().size(), 1);
}

void TestStartup::aboutDialog()
{
    CopyRightDialog dialog(nullptr);
    QCOMPARE(dialog.objectName(), QStringLiteral("CopyRightDialog"));
    QCOMPARE(dialog.size(), QSize(593, 191));
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Copyright"));
    const Qt::WindowFlags flags = dialog.windowFlags();
    QVERIFY(flags & Qt::WindowCloseButtonHint);
    QVERIFY(!(flags & Qt::WindowMinimizeButtonHint));
    QVERIFY(!(flags & Qt::WindowMaximizeButtonHint));
    QVERIFY(!(flags & Qt::WindowContextHelpButtonHint));
    QCOMPARE(flags & Qt::WindowType_Mask, Qt::Dialog);

    auto* version = dialog.findChild<QLabel*>(QStringLiteral("label"));
    QVERIFY(version);
    QCOMPARE(version->text(), QStringLiteral("Software Version:1.0.2"));
    QCOMPARE(version->font().pointSize(), 12);
    QCOMPARE(dialog.findChild<QLabel*>(QStringLiteral("label_3"))->text(), QString());
    QCOMPARE(dialog.findChild<QLabel*>(QStringLiteral("label_2"))->text(),
             QStringLiteral("Copyright (C) 2026 TX710 Viewer developers"));
    auto* buttons = dialog.findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"));
    QVERIFY(buttons);
    QCOMPARE(buttons->standardButtons(), QDialogButtonBox::Ok);
    QCOMPARE(buttons->minimumHeight(), 40);

    // Opened modal, dismissed with Ok, opened again: the same instance.
    MainWindow window;
    window.show();
    for (int round = 0; round < 2; ++round) {
        dialog.setModal(true);
        dialog.show();
        QVERIFY(dialog.isVisible());
        QCOMPARE(QApplication::activeModalWidget(), &dialog);
        QVERIFY(QApplication::activeModalWidget() != &window);
        buttons->button(QDialogButtonBox::Ok)->click();
        QVERIFY(!dialog.isVisible());
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
    }
}

void TestStartup::logoWidget()
{
    QWidget view;
    auto* logo = new LogoWidget(&view);
    QCOMPARE(logo->objectName(), QStringLiteral("LogoWidget"));
    QCOMPARE(logo->size(), QSize(215, 40));
    QCOMPARE(logo->styleSheet(), QStringLiteral("background-color: rgb(255, 255, 255);"));
    auto* label = logo->findChild<QLabel*>(QStringLiteral("label"));
    QVERIFY(label);
    QVERIFY(label->text().isEmpty());
    QCOMPARE(label->styleSheet(), QStringLiteral("border-image: url(:/Image/logo-03.png);"));
    auto* layout = qobject_cast<QHBoxLayout*>(logo->layout());
    QVERIFY(layout);
    QCOMPARE(layout->spacing(), 0);
    QCOMPARE(layout->contentsMargins(), QMargins(0, 0, 0, 0));
    // The picture behind the strip is a real image.
    QVERIFY(!QPixmap(QStringLiteral(":/Image/logo-03.png")).isNull());
}

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"

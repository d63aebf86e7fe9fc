// What the user learns of screenshots and saves: where they went, or what failed and why, without a
// modal box stopping the view; and a screenshot written all or nothing. The rest is tested end to end.

#include <QtTest>
#include <QtWidgets>

#include <random>

#include "SerialPort/serial_data.h"
#include "app/app_settings.h"
#include "app/main_window.h"
#include "panels/lidar_tool_bar.h"
#include "recording/output_folder.h"
#include "support/fixtures.h"
#include "view/lidar_gl_function.h"
#include "view/lidar_gl_widget.h"

namespace {

// A plain file where a folder should be; a folder already there is kept aside meanwhile.
struct BlockedFolder {
    QString path;
    bool existed = QDir(path).exists();
    explicit BlockedFolder(const QString& folder) : path(folder)
    {
        QDir().mkpath(QFileInfo(path).path());
        if (existed)
            QDir().rename(path, path + ".aside");
        QFile(path).open(QIODevice::WriteOnly);
    }
    ~BlockedFolder()
    {
        QFile::remove(path);
        if (existed)
            QDir().rename(path + ".aside", path);
    }
};

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT
    QTemporaryDir home_; // the user's data location lies in it
    const tx710test::FolderCleanup screenshots_{tx710::besideExecutable("Screenshots")}; // made by the tool bar
    std::unique_ptr<MainWindow> window_;
    QSize size_;

    QLabel* notice() const { return window_->findChild<QLabel*>("notice_widget"); }
    QMessageBox* failureBox() const { return window_->findChild<QMessageBox*>("failure_box"); }

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        qputenv("HOME", home_.path().toLocal8Bit());
    }
    void init()
    {
        window_ = std::make_unique<MainWindow>(nullptr);
        window_->show();
        QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
        size_ = window_->size();
        QVERIFY(!notice()->isVisible()); // nothing to say yet
    }
    void cleanup()
    {
        QCOMPARE(window_->size(), size_); // notices and boxes leave the window as it is
        QCOMPARE(QApplication::activeModalWidget(), nullptr);
        window_.reset();
    }

    void keysWorkAnywhereInTheWindow_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<QString>("sender"); // a child of the window, or "view" for the view's functions
        QTest::addColumn<QByteArray>("signal");
        QTest::addColumn<bool>("in_decay_box"); // the focus in the one text field
        const QByteArray hold = SIGNAL(sig_hold_toggled(bool));
        QTest::newRow("H") << int(Qt::Key_H) << 0 << "LidarToolBar" << hold << false;
        QTest::newRow("H in the decay box") << int(Qt::Key_H) << 0 << "LidarToolBar" << hold << true;
        QTest::newRow("Space") << int(Qt::Key_Space) << 0 << "play_button" << QByteArray(SIGNAL(toggled(bool)))
                               << false;
        QTest::newRow("Ctrl+O") << int(Qt::Key_O) << int(Qt::ControlModifier) << "LidarToolBar"
                                << QByteArray(SIGNAL(sig_open_clicked())) << false;
        QTest::newRow("=") << int(Qt::Key_Equal) << 0 << "view" << QByteArray(SIGNAL(zoomInSignal())) << false;
        QTest::newRow("keypad -") << int(Qt::Key_Minus) << int(Qt::KeypadModifier) << "view"
                                  << QByteArray(SIGNAL(zoomOutSignal())) << false;
        QTest::newRow("0") << int(Qt::Key_0) << 0 << "view" << QByteArray(SIGNAL(originViewSignal())) << false;
        QTest::newRow("C") << int(Qt::Key_C) << 0 << "checkBox_colormap" << QByteArray(SIGNAL(clicked(bool))) << false;
    }
    void keysWorkAnywhereInTheWindow()
    {
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QFETCH(QString, sender);
        QFETCH(QByteArray, signal);
        QFETCH(bool, in_decay_box);
        window_->findChild<LidarToolBar*>()->setObjectName("LidarToolBar");
        QSignalSpy spy(sender == "view" ? static_cast<QObject*>(LidarGLFunction::instance())
                                        : window_->findChild<QObject*>(sender),
                       signal.constData());
        QApplication::setActiveWindow(window_.get()); // Xvfb has no window manager to do it
        if (in_decay_box)
            window_->findChild<QSpinBox*>("decay_spin_box")->setFocus();
        QTimer::singleShot(100, [] { // Ctrl+O's file dialog
            if (auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget()))
                dialog->reject();
        });
        QTest::keyClick(QApplication::focusWidget(), Qt::Key(key), Qt::KeyboardModifiers(modifiers));
        QCOMPARE(spy.size(), 1);
    }

    // Hold and measure keys work with the focus in the GL scene too, Esc clears a measurement wherever
    // the focus is, and the tool bar's hold, measure and decay reach the view.
    void toolBarDrivesTheView()
    {
        auto* view = window_->findChild<LidarGLWidget*>();
        QApplication::setActiveWindow(window_.get());
        QWindow* scene = window_->windowHandle()->findChild<QOpenGLWindow*>();
        QVERIFY(scene);
        QTest::keyClick(scene, Qt::Key_H);
        QVERIFY(view->held());
        QTest::keyClick(scene, Qt::Key_M);
        QVERIFY(view->measureMode());
        QTest::mouseClick(view, Qt::LeftButton, {}, QPoint(100, 100));
        QCOMPARE(view->measureEnds().size(), std::size_t(1));
        QTest::keyClick(window_->findChild<QToolButton*>("hold_button"), Qt::Key_Escape);
        QCOMPARE(view->measureEnds().size(), std::size_t(0));
        window_->findChild<QSpinBox*>("decay_spin_box")->setValue(7);
        QCOMPARE(view->decayRounds(), 7);
        for (const char* button : {"hold_button", "measure_button"})
            QTest::mouseClick(window_->findChild<QToolButton*>(button), Qt::LeftButton);
        QVERIFY(!view->held());
        QVERIFY(!view->measureMode());
        window_->findChild<QSpinBox*>("decay_spin_box")->setValue(1);
    }

    // A remembered geometry comes back only when it fits the screen, else the default centred;
    // one that does not fit is not saved. By hand: a setting nobody could save.
    void geometryRememberedOnlyWhenItFits_data()
    {
        const QRect centred = QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, QSize(1000, 800),
                                                  QGuiApplication::primaryScreen()->availableGeometry());
        QTest::addColumn<QRect>("geometry");
        QTest::addColumn<bool>("by_hand"); // else the window closes with it
        QTest::addColumn<QRect>("comes_back");
        QTest::newRow("fits") << QRect(100, 120, 700, 500) << false << QRect(100, 120, 700, 500);
        QTest::newRow("cut off: not saved") << QRect(1500, 100, 700, 500) << false << QRect(0, 0, 1000, 800);
        QTest::newRow("cut off") << QRect(1500, 100, 700, 500) << true << centred;
        QTest::newRow("negative place") << QRect(-300, -200, 700, 500) << true << centred;
        QTest::newRow("negative size") << QRect(100, 100, -700, -500) << true << centred;
        QTest::newRow("a sliver") << QRect(100, 100, 647, 93) << true << centred;
        QTest::newRow("32767") << QRect(0, 0, 32767, 32767) << true << centred;
        QTest::newRow("40000") << QRect(0, 0, 40000, 40000) << true << centred;
        QTest::newRow("100000") << QRect(0, 0, 100000, 100000) << true << centred;
        QTest::newRow("off-screen") << QRect(5000, 5000, 700, 500) << true << centred;
    }
    void geometryRememberedOnlyWhenItFits()
    {
        QFETCH(QRect, geometry);
        QFETCH(bool, by_hand);
        QFETCH(QRect, comes_back);
        if (by_hand) {
            QWidget widget;
            QByteArray saved = widget.saveGeometry();
            QDataStream stream(&saved, QIODevice::ReadWrite);
            for (const int offset : {8, 24, 50}) // frame, normal and client rectangles
                stream.device()->seek(offset), stream << geometry;
            tx710::setSetting(tx710::kGeometryKey, saved);
        } else {
            window_->setGeometry(geometry);
            window_->close();
        }
        QCOMPARE(MainWindow().geometry(), comes_back);
        tx710::setSetting(tx710::kGeometryKey, QVariant());
        window_->setGeometry(QRect(window_->pos(), size_));
    }

    void screenshotFallsBackOrFailsVisibly_data()
    {
        QTest::addColumn<bool>("user_folder_blocked");
        QTest::newRow("user folder") << false;
        QTest::newRow("no folder at all") << true;
    }
    void screenshotFallsBackOrFailsVisibly()
    {
        QFETCH(bool, user_folder_blocked);
        const QString user_folder = tx710::userDataFolder("Screenshots");
        QVERIFY(user_folder.startsWith(home_.path()));
        const BlockedFolder beside(tx710::besideExecutable("Screenshots"));
        std::unique_ptr<BlockedFolder> user(user_folder_blocked ? new BlockedFolder(user_folder) : nullptr);
        if (user_folder_blocked) {
            QTest::ignoreMessage(QtDebugMsg, QRegularExpression("screenshot path create error:"));
            QTest::ignoreMessage(QtDebugMsg, QRegularExpression("screenshot save error:.*Screenshot\\.png"));
        }
        window_->saveScreenshot();
        QVERIFY(notice()->isVisible());
        if (user_folder_blocked) {
            QVERIFY(failureBox());
            QVERIFY(failureBox()->isVisible());
            QCOMPARE(failureBox()->windowTitle(), QStringLiteral("Screenshot failed"));
            QVERIFY2(failureBox()->text().contains("Not a directory"), qPrintable(failureBox()->text()));
        } else {
            QCOMPARE(failureBox(), nullptr);
            const QStringList files = QDir(user_folder).entryList(QDir::Files);
            QCOMPARE(files.size(), 1);
            QVERIFY2(notice()->text().contains(user_folder + '/' + files[0]), qPrintable(notice()->text()));
            QVERIFY(QDir(user_folder).removeRecursively());
        }
    }

    void saveOutcomeIsShown()
    {
        const QString data = tx710::besideExecutable("data");
        const tx710test::FolderCleanup written(data);
        QTest::mouseClick(window_->findChild<QToolButton*>("save_button"), Qt::LeftButton);
        SerialData::instance()->findFrame(tx710test::scanRevolutions(4)); // two whole rounds in between
        QTest::mouseClick(window_->findChild<QProgressDialog*>()->findChild<QPushButton*>(), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(notice()->isVisible(), 5000);
        const QString path = SerialData::instance()->lastSaveOutcome().path;
        QCOMPARE(notice()->text(), "Saved 2 rounds to " + path);
        QCOMPARE(failureBox(), nullptr);
        QCOMPARE(written.added(), QStringList{QFileInfo(path).fileName()});
        written.clean();

        // Now with no folder to write in.
        const BlockedFolder beside(data), user(tx710::userDataFolder("data"));
        QTest::mouseClick(window_->findChild<QToolButton*>("save_button"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(failureBox() && failureBox()->isVisible(), 5000);
        QCOMPARE(failureBox()->windowTitle(), QStringLiteral("Save failed"));
        QVERIFY2(failureBox()->text().contains("Not a directory"), qPrintable(failureBox()->text()));
        QVERIFY(notice()->text().startsWith("Save failed"));
    }

    void screenshotOnFullDiskLeavesNoFile()
    {
        QTemporaryDir dir;
        QImage image(300, 300, QImage::Format_RGB32); // noise: a PNG far larger than the disk's room
        std::mt19937 random(7);
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                image.setPixel(x, y, random());
        QString reason;
        {
            const tx710test::FileSizeLimit limit(8192);
            reason = MainWindow::writeScreenshotFile(image, dir.path() + "/shot.png");
        }
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList());
        QCOMPARE(reason, QStringLiteral("File too large"));
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_main_window.moc"

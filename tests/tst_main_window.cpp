// The main window: the view's place, the screenshot of the view and its
// failure, and the order in which the window takes itself apart.

#include <QtTest>
#include <QtWidgets>

#include "app/main_window.h"
#include "panels/lidar_tool_bar.h"
#include "view/lidar_gl_widget.h"

class TestMainWindow : public QObject
{
    Q_OBJECT

    const QString dir_ = QCoreApplication::applicationDirPath() + "/Screenshots";
    const bool dir_existed_ = QDir(dir_).exists();
    const QStringList before_ = shots();
    MainWindow* window_ = nullptr;
    LidarGLWidget* view_ = nullptr;

    QStringList shots() const { return QDir(dir_).entryList({"*Screenshot.png"}, QDir::Files, QDir::Name); }
    QStringList newShots() const
    {
        QStringList added = shots();
        added.erase(std::remove_if(added.begin(), added.end(), [&](auto& name) { return before_.contains(name); }),
                    added.end());
        return added;
    }

private slots:
    void init()
    {
        window_ = new MainWindow(nullptr);
        window_->move(0, 0);
        window_->show();
        QVERIFY(QTest::qWaitForWindowExposed(window_));
        view_ = window_->findChild<LidarGLWidget*>("openGLWidget");
    }
    void cleanup() { delete window_; }
    void cleanupTestCase()
    {
        if (QFileInfo(dir_).isFile()) // left by a failed run of the blocked screenshot
            QFile::remove(dir_);
        for (const QString& name : newShots())
            QFile::remove(dir_ + '/' + name);
        if (!dir_existed_)
            QDir().rmdir(dir_);
    }

    void viewFillsTheWindowBelowTheToolBarWhenResized()
    {
        const int zoom = view_->zoomIndex();
        window_->resize(1300, 700);
        QTRY_COMPARE(view_->geometry(), window_->centralWidget()->rect());
        QCOMPARE(view_->width(), 1300);
        QVERIFY(view_->mapTo(window_, {0, 0}).y() >= window_->findChild<QToolBar*>("mainToolBar")->geometry().bottom());
        QCOMPARE(view_->zoomIndex(), zoom);
    }

    void screenshotHoldsTheViewAndWhatLiesOverIt()
    {
        QLabel marker(view_); // lies over the view on screen
        marker.setStyleSheet("background-color: rgb(255, 0, 255);");
        marker.setGeometry(view_->width() / 2, view_->height() / 2, 40, 30);
        marker.show();
        QTest::qWait(300);
        QTest::mouseClick(window_->findChild<LidarToolBar*>()->findChild<QToolButton*>("intercept_button"),
                          Qt::LeftButton);
        QCOMPARE(newShots().size(), 1);
        const QString path = dir_ + '/' + newShots().first();
        const QImage shot(path, "PNG");
        QVERIFY(QFile::remove(path));
        QCOMPARE(shot.size(), view_->size());
        // The marker sits where it sits in the view, and only there.
        const QPoint at(view_->width() / 2, view_->height() / 2);
        for (const QPoint& offset : {QPoint(20, 15), QPoint(-5, 15), QPoint(20, -5)})
            QCOMPARE(shot.pixelColor(at + offset) == QColor(255, 0, 255), offset == QPoint(20, 15));
    }

    void screenshotThatCannotBeWrittenIsLogged()
    {
        // A plain file where the folder should be: neither folder nor picture can be made.
        const QString aside = dir_ + ".aside";
        QVERIFY(!QDir(dir_).exists() || QDir().rename(dir_, aside));
        QFile blocker(dir_);
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression("screenshot path create error:"));
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression("screenshot save error:.*Screenshot\\.png"));
        window_->saveScreenshot();
        QVERIFY(blocker.remove());
        QVERIFY(!QDir(aside).exists() || QDir().rename(aside, dir_));

        window_->saveScreenshot(); // the folder is made again
        QCOMPARE(newShots().size(), 1);
        QVERIFY(QFile::remove(dir_ + '/' + newShots().first()));
    }

    void toolBarGoesFirstOnDestruction()
    {
        QPointer<LidarToolBar> tool_bar = window_->findChild<LidarToolBar*>();
        QPointer<LidarGLWidget> view = view_;
        // The tool bar goes in the window's own destructor, before the base
        // class deletes the children; deleting it afterwards frees it twice.
        bool view_alive_when_tool_bar_went = false;
        connect(tool_bar, &QObject::destroyed, this, [&] { view_alive_when_tool_bar_went = !view.isNull(); });
        delete window_;
        window_ = nullptr;
        QVERIFY(tool_bar.isNull() && view.isNull() && view_alive_when_tool_bar_went);
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_main_window.moc"

// The main window: its layout, the screenshot of the view and its failure,
// and the order in which it takes itself apart.

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QHBoxLayout>
#include <QImage>
#include <QLabel>
#include <QPointer>
#include <QRegularExpression>
#include <QToolBar>
#include <QToolButton>
#include <QtTest>

#include "app/main_window.h"
#include "panels/lidar_tool_bar.h"
#include "view/lidar_gl_widget.h"

namespace {

QStringList screenshotFiles(const QString& dir)
{
    return QDir(dir).entryList({QStringLiteral("*Screenshot.png")}, QDir::Files, QDir::Name);
}

bool isMagenta(QRgb pixel)
{
    return qRed(pixel) > 230 && qGreen(pixel) < 30 && qBlue(pixel) > 230;
}

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void viewFillsTheWindowUnderTheToolBar();
    void resizingOnlyMovesTheLayout();
    void screenshotHoldsTheViewAndWhatLiesOverIt();
    void screenshotThatCannotBeWrittenIsLogged();
    void toolBarGoesFirstOnDestruction();

private:
    QStringList newScreenshots() const;

    QString screenshot_dir_;
    bool screenshot_dir_existed_ = false;
    QStringList screenshots_before_;
};

void TestMainWindow::initTestCase()
{
    screenshot_dir_ = QCoreApplication::applicationDirPath() + QStringLiteral("/Screenshots");
    screenshot_dir_existed_ = QDir(screenshot_dir_).exists();
    screenshots_before_ = screenshotFiles(screenshot_dir_);
}

void TestMainWindow::cleanupTestCase()
{
    const QFileInfo info(screenshot_dir_);
    if (info.isFile())
        QFile::remove(screenshot_dir_);
    for (const QString& name : newScreenshots())
        QFile::remove(screenshot_dir_ + QLatin1Char('/') + name);
    if (!screenshot_dir_existed_)
        QDir().rmdir(screenshot_dir_);
}

QStringList TestMainWindow::newScreenshots() const
{
    QStringList added;
    for (const QString& name : screenshotFiles(screenshot_dir_))
        if (!screenshots_before_.contains(name))
            added << name;
    return added;
}

void TestMainWindow::viewFillsTheWindowUnderTheToolBar()
{
    MainWindow window(nullptr);
    QCOMPARE(window.objectName(), QStringLiteral("MainWindow"));
    QCOMPARE(window.windowTitle(), QStringLiteral("TX710Viewer"));
    QCOMPARE(window.size(), QSize(1000, 800));
    QCOMPARE(window.sizePolicy().horizontalStretch(), 4);
    QCOMPARE(window.sizePolicy().verticalStretch(), 3);

    auto* central = window.findChild<QWidget*>(QStringLiteral("centralWidget"));
    QCOMPARE(window.centralWidget(), central);
    auto* layout = central->findChild<QHBoxLayout*>(QStringLiteral("horizontalLayout"));
    QVERIFY(layout);
    QCOMPARE(layout->count(), 1);
    QCOMPARE(layout->contentsMargins(), QMargins(0, 0, 0, 0));
    auto* view = qobject_cast<LidarGLWidget*>(layout->itemAt(0)->widget());
    QVERIFY(view);
    QCOMPARE(view->objectName(), QStringLiteral("openGLWidget"));

    auto* tool_bar_area = window.findChild<QToolBar*>(QStringLiteral("mainToolBar"));
    QVERIFY(tool_bar_area);
    QCOMPARE(window.toolBarArea(tool_bar_area), Qt::TopToolBarArea);
    auto* tool_bar = window.findChild<LidarToolBar*>();
    QVERIFY(tool_bar);
    QCOMPARE(tool_bar->parentWidget(), tool_bar_area);

    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCOMPARE(view->geometry(), central->rect());
    QVERIFY(view->mapTo(&window, QPoint(0, 0)).y() >= tool_bar_area->geometry().bottom());
    QVERIFY(tool_bar->isVisible());
}

void TestMainWindow::resizingOnlyMovesTheLayout()
{
    MainWindow window(nullptr);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto* view = window.findChild<LidarGLWidget*>(QStringLiteral("openGLWidget"));
    const int zoom = view->zoomIndex();
    window.resize(1300, 700);
    QTRY_COMPARE(window.size(), QSize(1300, 700));
    QTRY_COMPARE(view->geometry(), window.centralWidget()->rect());
    QCOMPARE(view->width(), 1300);
    QCOMPARE(view->zoomIndex(), zoom);
    QCOMPARE(window.windowTitle(), QStringLiteral("TX710Viewer"));
}

void TestMainWindow::screenshotHoldsTheViewAndWhatLiesOverIt()
{
    MainWindow window(nullptr);
    window.move(0, 0);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto* view = window.findChild<LidarGLWidget*>(QStringLiteral("openGLWidget"));

    // Something lying over the view on screen belongs in the picture.
    QLabel marker(view);
    marker.setStyleSheet(QStringLiteral("background-color: rgb(255, 0, 255);"));
    marker.setGeometry(view->width() / 2, view->height() / 2, 40, 30);
    marker.show();
    QTest::qWait(300);

    auto* tool_bar = window.findChild<LidarToolBar*>();
    QTest::mouseClick(tool_bar->findChild<QToolButton*>(QStringLiteral("intercept_button")), Qt::LeftButton);
    const QStringList added = newScreenshots();
    QCOMPARE(added.size(), 1);
    const QRegularExpression name_format(
        QStringLiteral("^\\d{4}-\\d\\d-\\d\\d_\\d\\d_\\d\\d_\\d\\d_\\d{3}-Screenshot\\.png$"));
    QVERIFY2(name_format.match(added.first()).hasMatch(), qPrintable(added.first()));

    const QString path = screenshot_dir_ + QLatin1Char('/') + added.first();
    const QImage shot(path, "PNG");
    QVERIFY(!shot.isNull());
    QCOMPARE(shot.size(), view->size());
    QVERIFY(isMagenta(shot.pixel(view->width() / 2 + 20, view->height() / 2 + 15)));
    // Only the view's area: the marker sits where it sits in the view.
    QVERIFY(!isMagenta(shot.pixel(view->width() / 2 - 5, view->height() / 2 + 15)));
    QVERIFY(!isMagenta(shot.pixel(view->width() / 2 + 20, view->height() / 2 - 5)));
    QVERIFY(QFile::remove(path));
}

void TestMainWindow::screenshotThatCannotBeWrittenIsLogged()
{
    MainWindow window(nullptr);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    // A plain file where the folder should be: neither folder nor picture can be made.
    QDir(screenshot_dir_).removeRecursively();
    {
        QFile blocker(screenshot_dir_);
        QVERIFY(blocker.open(QIODevice::WriteOnly));
    }
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QStringLiteral("screenshot path create error:")));
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QStringLiteral("screenshot save error:.*Screenshot\\.png")));
    window.saveScreenshot();
    QVERIFY(QFile::remove(screenshot_dir_));

    // With the folder gone, the next screenshot makes it again.
    window.saveScreenshot();
    const QStringList added = newScreenshots();
    QCOMPARE(added.size(), 1);
    QVERIFY(QFile::remove(screenshot_dir_ + QLatin1Char('/') + added.first()));
}

void TestMainWindow::toolBarGoesFirstOnDestruction()
{
    auto* window = new MainWindow(nullptr);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    QPointer<LidarToolBar> tool_bar = window->findChild<LidarToolBar*>();
    QPointer<LidarGLWidget> view = window->findChild<LidarGLWidget*>();
    QPointer<QToolBar> area = window->findChild<QToolBar*>(QStringLiteral("mainToolBar"));
    QVERIFY(tool_bar && view && area);
    // The tool bar goes in the window's own destructor, before the base class
    // deletes the children (the view among them); deleting it afterwards
    // would free it twice.
    bool view_alive_when_tool_bar_went = false;
    connect(tool_bar, &QObject::destroyed, this, [&] { view_alive_when_tool_bar_went = !view.isNull(); });
    delete window;
    QVERIFY(tool_bar.isNull());
    QVERIFY(view.isNull());
    QVERIFY(area.isNull());
    QVERIFY(view_alive_when_tool_bar_went);
}

QTEST_MAIN(TestMainWindow)
#include "tst_main_window.moc"

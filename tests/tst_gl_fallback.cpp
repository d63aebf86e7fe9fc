// Start-up on drivers of other GL versions, made with Mesa's overrides: from
// GL 3.1 on the view draws natively, below it the program starts again on the
// software renderer.

#include <QMouseEvent>
#include <QtTest>

#include "app/gl_check.h"
#include "support/modal_watcher.h"
#include "view/lidar_gl_function.h"
#include "view/lidar_gl_widget.h"

using namespace tx710test;

namespace {

constexpr char kPictureVariable[] = "TX710_TEST_PICTURE";

// A child run: decides on the GL as the program does (starting itself again
// if it would), then draws points, grid, labels, the hover line and a
// measure line, and writes the picture.
int drawPicture(char** argv)
{
    tx710::ensureUsableGl(argv);
    std::fprintf(stderr, "GL %s; note: %s\n", qPrintable(tx710::probeGl().version),
                 qPrintable(LidarGLFunction::instance()->rendererNote()));
    LidarGLWidget view;
    view.setGeometry(0, 0, 640, 480);
    view.show();
    if (!QTest::qWaitForWindowExposed(&view) || view.grabFramebuffer().isNull()) // the camera of the first frame
        return 1;
    std::vector<PointRecord> round;
    for (int i = 0; i < 360; ++i)
        round.push_back(PointRecord{float(i % 256), 150.0f + float(i % 40), float(i)});
    view.showRecordedRound(round, 600);
    view.setMeasureMode(true);
    for (const QPoint at : {QPoint(250, 200), QPoint(400, 300)}) { // the last one is where the mouse rests
        for (const auto type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease, QEvent::MouseMove}) {
            QMouseEvent event(type, at, type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, {}, {});
            QCoreApplication::sendEvent(&view, &event);
        }
    }
    QEvent enter(QEvent::Enter); // the hover line
    QCoreApplication::sendEvent(&view, &enter);
    return view.grabFramebuffer().save(qEnvironmentVariable(kPictureVariable)) ? 0 : 1;
}

struct Run {
    QImage picture;
    QString log;
};

// The picture and log of a child run with `environment` added.
Run childRun(const QStringList& environment)
{
    QTemporaryDir folder;
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(kPictureVariable, folder.filePath("picture.png"));
    for (const QString& setting : environment)
        env.insert(setting.section('=', 0, 0), setting.section('=', 1));
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QCoreApplication::applicationFilePath(), QStringList());
    child.waitForFinished(120000);
    return Run{QImage(folder.filePath("picture.png")), QString::fromUtf8(child.readAll())};
}

} // namespace

class TestGlFallback : public QObject
{
    Q_OBJECT
private slots:
    // A board offering GL 3.1 without compatibility features and GLSL 1.40
    // (3.1FC: whatever context is asked for) draws the same picture natively.
    void glThreeOneDrawsNatively()
    {
        const Run standard = childRun({});
        const Run board = childRun({"MESA_GL_VERSION_OVERRIDE=3.1FC", "MESA_GLSL_VERSION_OVERRIDE=140"});
        QVERIFY2(board.log.contains("GL 3.1 (Core Profile)"), qPrintable(board.log));
        QVERIFY2(!board.log.contains("software renderer"), qPrintable(board.log)); // no restart, no note
        QVERIFY2(!standard.picture.isNull(), qPrintable(standard.log));
        QVERIFY(board.picture == standard.picture);
    }

    void softwareRendererStandsInBelowThreeOne()
    {
        QProcess viewer;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("MESA_GL_VERSION_OVERRIDE", "3.0");
        viewer.setProcessEnvironment(env);
        viewer.setProcessChannelMode(QProcess::MergedChannels);
        viewer.start(QCoreApplication::applicationDirPath() + "/TX710Viewer", QStringList());
        QByteArray log;
        QTRY_VERIFY_WITH_TIMEOUT((log += viewer.readAll()).contains("drawing with the software renderer"), 20000);
        QVERIFY2(log.contains("found \"OpenGL 3.0"), log.constData());
        viewer.kill(); // it waits at the port dialog
        viewer.waitForFinished();
    }

    // Last: the override stays in this process's GL from here on.
    void noUsableGlShowsWhatWasFound()
    {
        qputenv("MESA_GL_VERSION_OVERRIDE", "3.0");
        qputenv(tx710::kGlRetryVariable, "OpenGL 3.0 (test)"); // the software renderer tried already
        QCOMPARE(tx710::probeGl().version.left(3), QStringLiteral("3.0"));
        ModalWatcher watcher;
        LogCapture log;
        char* no_arguments[] = {nullptr};
        tx710::ensureUsableGl(no_arguments); // returns: no restart
        QCOMPARE(watcher.seen().size(), 1);
        QVERIFY2(watcher.seen().value(0).contains("offers OpenGL 3.0 (test)"), qPrintable(watcher.seen().join('\n')));
        QVERIFY(log.lines().join('\n').contains("no usable OpenGL"));
        QVERIFY(!qEnvironmentVariableIsSet(tx710::kGlRetryVariable)); // not handed on
    }
};

int main(int argc, char** argv)
{
    std::vector<char*> arguments(argv, argv + argc + 1); // for a restart, as the program keeps them
    QApplication app(argc, argv);
    if (qEnvironmentVariableIsSet(kPictureVariable))
        return drawPicture(arguments.data());
    TestGlFallback test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_gl_fallback.moc"

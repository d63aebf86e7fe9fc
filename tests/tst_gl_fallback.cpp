// Start-up on a GL without the view's 4.1 profile, made with Mesa's version override.

#include <QProcess>
#include <QtTest>

#include "app/gl_check.h"
#include "support/modal_watcher.h"

using namespace tx710test;

class TestGlFallback : public QObject
{
    Q_OBJECT
private slots:
    void softwareRendererStandsIn()
    {
        QProcess viewer;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("MESA_GL_VERSION_OVERRIDE", "3.1");
        viewer.setProcessEnvironment(env);
        viewer.setProcessChannelMode(QProcess::MergedChannels);
        viewer.start(QCoreApplication::applicationDirPath() + "/TX710Viewer", QStringList());
        QByteArray log;
        QTRY_VERIFY_WITH_TIMEOUT((log += viewer.readAll()).contains("drawing with the software renderer"), 20000);
        QVERIFY2(log.contains("found \"OpenGL 3.1"), log.constData());
        viewer.kill(); // it waits at the port dialog
        viewer.waitForFinished();
    }

    // Last: the override stays in this process's GL from here on.
    void noUsableGlShowsWhatWasFound()
    {
        qputenv("MESA_GL_VERSION_OVERRIDE", "3.1");
        qputenv(tx710::kGlRetryVariable, "OpenGL 3.1 (test)"); // the software renderer tried already
        QCOMPARE(tx710::probeGl().version.left(3), QStringLiteral("3.1"));
        ModalWatcher watcher;
        LogCapture log;
        char* no_arguments[] = {nullptr};
        tx710::ensureUsableGl(no_arguments); // returns: no restart
        QCOMPARE(watcher.seen().size(), 1);
        QVERIFY2(watcher.seen().value(0).contains("offers OpenGL 3.1 (test)"), qPrintable(watcher.seen().join('\n')));
        QVERIFY(log.lines().join('\n').contains("no usable OpenGL"));
        QVERIFY(!qEnvironmentVariableIsSet(tx710::kGlRetryVariable)); // not handed on
    }
};

QTEST_MAIN(TestGlFallback)
#include "tst_gl_fallback.moc"

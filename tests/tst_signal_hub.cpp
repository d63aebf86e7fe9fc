// The view's signal hub: the play flag and the three view commands.
#include <QSignalSpy>
#include <QtTest>

#include "view/lidar_gl_function.h"

class TestSignalHub : public QObject
{
    Q_OBJECT

private slots:
    void freshHubIsPlaying()
    {
        // First use in this process.
        LidarGLFunction* hub = LidarGLFunction::instance();
        QVERIFY(hub->playFlag());
        QCOMPARE(LidarGLFunction::instance(), hub);
        QVERIFY(hub->parent() == nullptr);
        hub->setPlayFlag(false);
        QVERIFY(!LidarGLFunction::instance()->playFlag());
        hub->setPlayFlag(true);
        QVERIFY(hub->playFlag());
    }

    void eachCommandEmitsOnlyItsSignal()
    {
        LidarGLFunction* hub = LidarGLFunction::instance();
        QSignalSpy origin(hub, &LidarGLFunction::originViewSignal);
        QSignalSpy zoom_in(hub, &LidarGLFunction::zoomInSignal);
        QSignalSpy zoom_out(hub, &LidarGLFunction::zoomOutSignal);
        hub->emitOriginView(); // no view exists: nothing else happens
        QCOMPARE(origin.count(), 1);
        QCOMPARE(zoom_in.count() + zoom_out.count(), 0);
        hub->emitZoomIn();
        hub->emitZoomIn();
        QCOMPARE(zoom_in.count(), 2);
        QCOMPARE(origin.count() + zoom_out.count(), 1);
        hub->emitZoomOut();
        QCOMPARE(zoom_out.count(), 1);
        QCOMPARE(origin.count() + zoom_in.count(), 3);
        QVERIFY(hub->playFlag());
    }
};

QTEST_MAIN(TestSignalHub)
#include "tst_signal_hub.moc"

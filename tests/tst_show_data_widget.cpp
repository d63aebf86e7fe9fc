// The read-out panel: labels, number formats, and when point values show.
#include <QLabel>
#include <QtTest>

#include "SerialPort/frame_protocol.h"
#include "SerialPort/serial_data.h"
#include "panels/show_data_widget.h"
#include "view/lidar_gl_function.h"

namespace {

QString text(const ShowDataWidget& panel, const char* name)
{
    const auto* label = panel.findChild<QLabel*>(QLatin1String(name));
    return label ? label->text() : QStringLiteral("<no label %1>").arg(QLatin1String(name));
}

ShowData record(float angle, float distance, float intensity, float speed, int frequency)
{
    ShowData data;
    data.angle = angle;
    data.distance = distance;
    data.intensity = intensity;
    data.speed = speed;
    data.spot_frequency = frequency;
    return data;
}

// A frame whose points lie at 100 + i * 4/11 degrees, 1520 mm, intensity 200.
void parseFrameAt100Degrees()
{
    tx710::ScanFrameFields fields;
    fields.speed = 2160; // 360 RPM
    fields.start_angle = 10000;
    fields.end_angle = 10400;
    for (auto& point : fields.points) {
        point.distance = 1520;
        point.intensity = 200;
    }
    const tx710::FrameBytes bytes = tx710::encodeFrame(fields);
    SerialData::instance()->parseFrame(QByteArray(reinterpret_cast<const char*>(bytes.data()), int(bytes.size())));
}

} // namespace

class TestShowDataWidget : public QObject
{
    Q_OBJECT

private slots:
    void init() { LidarGLFunction::instance()->setPlayFlag(true); }
    void cleanup()
    {
        LidarGLFunction::instance()->setPlayFlag(true);
        SerialData::instance()->setHoverAngle(-1.0f);
    }

    void formCaptionsAndInitialValues()
    {
        ShowDataWidget panel(nullptr);
        QCOMPARE(panel.objectName(), QStringLiteral("ShowDataWidget"));
        QCOMPARE(panel.size(), QSize(579, 217));
        QCOMPARE(text(panel, "label_5"), QStringLiteral("Spacing:"));
        QCOMPARE(text(panel, "label"), QStringLiteral("Angle:"));
        QCOMPARE(text(panel, "label_2"), QStringLiteral("Distance:"));
        QCOMPARE(text(panel, "label_3"), QStringLiteral("Intensity:"));
        QCOMPARE(text(panel, "label_4"), QStringLiteral("RotatingSpeed:"));
        QCOMPARE(text(panel, "label_6"), QStringLiteral("SpotFrequency"));
        for (const char* value : {"spacing_label", "angle_label", "distance_label", "intensity_label", "speed_label",
                                  "spot_frequency_label"})
            QCOMPARE(text(panel, value), QStringLiteral("--"));
        QCOMPARE(panel.findChild<QLabel*>("angle_label")->font().pointSize(), 15);
    }

    void liveFormats_data()
    {
        QTest::addColumn<float>("angle");
        QTest::addColumn<float>("distance");
        QTest::addColumn<float>("intensity");
        QTest::addColumn<float>("speed");
        QTest::addColumn<int>("frequency");
        QTest::addColumn<QStringList>("expected"); // angle, distance, intensity, speed, frequency
        QTest::newRow("rounded angle") << 12.345f << 1520.0f << 200.0f << 360.0f << 4500
                                       << QStringList{"12.35°", "1520mm", "200", "360RPM", "4500"};
        QTest::newRow("far distance") << 0.0f << 1234567.0f << 255.0f << 300.5f << 4563
                                      << QStringList{"0.00°", "1.23457e+06mm", "255", "300.5RPM", "4563"};
        QTest::newRow("full circle") << 359.999f << 1.0f << 0.0f << 0.0f << 0
                                     << QStringList{"360.00°", "1mm", "0", "0RPM", "0"};
    }
    void liveFormats()
    {
        QFETCH(float, angle);
        QFETCH(float, distance);
        QFETCH(float, intensity);
        QFETCH(float, speed);
        QFETCH(int, frequency);
        QFETCH(QStringList, expected);
        ShowDataWidget panel(nullptr);
        panel.setMouseInView(true);
        panel.showData(record(angle, distance, intensity, speed, frequency));
        QCOMPARE(text(panel, "angle_label"), expected[0]);
        QCOMPARE(text(panel, "distance_label"), expected[1]);
        QCOMPARE(text(panel, "intensity_label"), expected[2]);
        QCOMPARE(text(panel, "speed_label"), expected[3]);
        QCOMPARE(text(panel, "spot_frequency_label"), expected[4]);
    }

    void pointValuesHiddenWhenNotLive_data()
    {
        QTest::addColumn<bool>("playing");
        QTest::addColumn<bool>("inside");
        QTest::newRow("mouse outside") << true << false;
        QTest::newRow("paused, mouse inside") << false << true;
        QTest::newRow("paused, mouse outside") << false << false;
    }
    void pointValuesHiddenWhenNotLive()
    {
        QFETCH(bool, playing);
        QFETCH(bool, inside);
        ShowDataWidget panel(nullptr);
        panel.setMouseInView(true);
        panel.showData(record(12.345f, 1520, 200, 360, 4500));
        QCOMPARE(text(panel, "angle_label"), QStringLiteral("12.35°"));

        LidarGLFunction::instance()->setPlayFlag(playing);
        panel.setMouseInView(inside);
        panel.showData(record(50, 800, 100, 360, 4510));
        QCOMPARE(text(panel, "angle_label"), QStringLiteral("--"));
        QCOMPARE(text(panel, "distance_label"), QStringLiteral("--"));
        QCOMPARE(text(panel, "intensity_label"), QStringLiteral("--"));
        // Speed and spot frequency keep updating.
        QCOMPARE(text(panel, "speed_label"), QStringLiteral("360RPM"));
        QCOMPARE(text(panel, "spot_frequency_label"), QStringLiteral("4510"));

        // Live again: the next record shows its point.
        LidarGLFunction::instance()->setPlayFlag(true);
        panel.setMouseInView(true);
        panel.showData(record(50, 800, 100, 360, 4510));
        QCOMPARE(text(panel, "angle_label"), QStringLiteral("50.00°"));
    }

    void spacingInGeneralNotation()
    {
        ShowDataWidget panel(nullptr);
        LidarGLFunction::instance()->setPlayFlag(false); // not gated by play or mouse
        const std::pair<float, const char*> cases[] = {{2, "2"}, {0.1f, "0.1"}, {0.25f, "0.25"}, {0.8f, "0.8"},
                                                       {2.5f, "2.5"}, {50, "50"}};
        for (const auto& c : cases) {
            panel.setSpacing(c.first);
            QCOMPARE(text(panel, "spacing_label"), QString::fromLatin1(c.second));
        }
    }

    void decoderPicksReachTheNewestPanel()
    {
        // The decoder reports a picked point through the panel's callback.
        auto older = std::make_unique<ShowDataWidget>(nullptr);
        ShowDataWidget panel(nullptr);
        panel.setMouseInView(true);
        SerialData::instance()->setHoverAngle(100.0f + 5 * 4.0f / 11.0f);
        parseFrameAt100Degrees();
        QCOMPARE(text(panel, "angle_label"), QStringLiteral("101.82°"));
        QCOMPARE(text(panel, "distance_label"), QStringLiteral("1520mm"));
        QCOMPARE(text(panel, "intensity_label"), QStringLiteral("200"));
        QCOMPARE(text(panel, "speed_label"), QStringLiteral("360RPM"));
        QCOMPARE(text(*older, "angle_label"), QStringLiteral("--"));

        // A panel that is gone is never reached.
        {
            ShowDataWidget short_lived(nullptr);
        }
        SerialData::instance()->setHoverAngle(100.0f);
        parseFrameAt100Degrees(); // picks 100.00, reported to the freed panel's callback
        QCOMPARE(text(panel, "angle_label"), QStringLiteral("101.82°"));
    }
};

QTEST_MAIN(TestShowDataWidget)
#include "tst_show_data_widget.moc"

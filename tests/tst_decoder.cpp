// Point decoding and scan assembly, seen through what the decoder publishes: the display arrays
// of each completed round, the round callback and the read-out records of picked points.

#include <QtTest>

#include "SerialPort/link_health.h"

#include <cmath>

#include "SerialPort/serial_data_p.h"
#include "support/fixtures.h"

using namespace tx710;
using tx710test::hexFixture;
using tx710test::scanFrame;

namespace {

using Vectors = std::vector<QVector3D>;
const QVector3D kWhite(1, 1, 1), kYellow(1, 1, 0), kCyan(0, 1, 1);

// A fresh decoder that keeps every round it publishes and every read-out record.
struct Published {
    SerialDataTestAccess::Decoder decoder = SerialDataTestAccess::create();
    std::vector<Vectors> points, colours;
    std::vector<ShowData> reports;
    Published()
    {
        decoder->setRoundCallback([this] {
            points.push_back(decoder->display_points_);
            colours.push_back(decoder->display_colors_);
        });
        decoder->setShowDataCallback([this](ShowData data) { reports.push_back(data); });
    }
    void parse(const QByteArray& bytes) { decoder->parseFrame(bytes); }
};

} // namespace

class DecoderTest : public QObject
{
    Q_OBJECT
private slots:
    // Rates from samples about a second apart: rejects count over the last
    // 10 s only, and silence shows once it has lasted more than a second.
    void linkHealthOverTenSeconds_data()
    {
        QTest::addColumn<qint64>("time_ms");
        QTest::addColumn<qint64>("last_data_ms");
        QTest::addColumn<double>("frames_per_second");
        QTest::addColumn<int>("recent_rejects");
        QTest::addColumn<double>("reject_percent");
        QTest::addColumn<int>("silent_seconds");
        // Before: t = 0 nothing, t = 1000 495 frames and 5 rejects, then 450 frames a second.
        QTest::newRow("first second") << qint64(2000) << qint64(2000) << 450.0 << 5 << 100.0 * 5 / 950 << 0;
        QTest::newRow("rejects leave the window") << qint64(11000) << qint64(11000) << 450.0 << 0 << 0.0 << 0;
        QTest::newRow("silent for a second") << qint64(3000) << qint64(2000) << 0.0 << 5 << 100.0 * 5 / 950 << 0;
        QTest::newRow("silent for longer") << qint64(4500) << qint64(2000) << 0.0 << 5 << 100.0 * 5 / 950 << 2;
    }
    void linkHealthOverTenSeconds()
    {
        QFETCH(qint64, time_ms);
        QFETCH(qint64, last_data_ms);
        tx710::LinkHealthMonitor monitor;
        monitor.addSample({0, 0, 0, 600, 0, -1});
        monitor.addSample({1000, 495, 5, 600, 450, 1000});
        // Data flows until last_data_ms, then stops; a sample each second, and one at time_ms.
        const auto sample_at = [&monitor, last_data_ms](qint64 t) {
            const qint64 data = std::min(t, last_data_ms);
            monitor.addSample({t, std::uint64_t(495 + (data / 1000 - 1) * 450), 5, 600, 450, data});
        };
        for (qint64 t = 2000; t < time_ms; t += 1000)
            sample_at(t);
        sample_at(time_ms);
        const tx710::LinkHealth health = monitor.health();
        QTEST(qRound(health.frames_per_second * 1000) / 1000.0, "frames_per_second");
        QTEST(int(health.recent_rejects), "recent_rejects");
        QTEST(health.recent_reject_percent, "reject_percent");
        QTEST(health.silent_seconds, "silent_seconds");
    }

    void pointPositions_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("next_round_points"); // when parsed after a frame at 350 degrees
        QTest::newRow("100 to 104") << hexFixture("example_frame.hex") << 0;
        // Wrapped points lie below the previous start: they belong to the next round.
        QTest::newRow("359 to 3, point 3 without return") << hexFixture("frame_crossing_359_3.hex") << 8;
        // Any end below the start crosses 0 degrees, whatever the speed.
        QTest::newRow("355 to 5 at 1800") << hexFixture("frame_reserved_set.hex") << 6;
        QTest::newRow("300 to 20 at 360") << scanFrame(30000, 2000, 1000, 100, 360) << 0;
    }
    void pointPositions()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, next_round_points);
        const ScanFrameFields fields = decodeFrameFields(reinterpret_cast<const std::uint8_t*>(bytes.constData()));
        const double start = fields.start_angle / 100.0, span = std::fmod(fields.end_angle / 100.0 - start + 360, 360);
        Vectors expected; // metres; x = -r sin a, y = -r cos a
        for (int i = 0; i < 12; ++i) {
            const double r = fields.points[std::size_t(i)].distance / 1000.0, a = (start + i * span / 11) * M_PI / 180;
            if (r > 0)
                expected.emplace_back(-r * std::sin(a), -r * std::cos(a), 0);
        }
        Published published;
        if (next_round_points > 0)
            published.parse(scanFrame(35000, 35400));
        published.parse(bytes);
        published.parse(scanFrame(1, 401, 0)); // two round ends without points of their own
        published.parse(scanFrame(0, 400, 0));
        QCOMPARE(published.points.size(), std::size_t(2)); // none before a round's end
        QCOMPARE(int(published.points[1].size()), next_round_points);
        Vectors points(published.points[0].begin() + (next_round_points > 0 ? 12 : 0), published.points[0].end());
        points.insert(points.end(), published.points[1].begin(), published.points[1].end());
        QCOMPARE(points.size(), expected.size());
        for (std::size_t i = 0; i < points.size(); ++i)
            QVERIFY2((points[i] - expected[i]).length() < 1e-4f, qPrintable(QStringLiteral("point %1").arg(i)));
    }

    void coloursAndHoverPick()
    {
        // Intensities 0 100 210 211 230 254 255 255 211 210 1 255, one degree apart from 20 degrees.
        Published coloured, plain;
        coloured.decoder->setColorFlag(true);
        coloured.decoder->setHoverAngle(25.1f); // point 5 (254, yellow) is the only one within 0.2: it turns white
        for (Published* published : {&coloured, &plain}) {
            published->parse(hexFixture("frame_intensities.hex"));
            published->parse(scanFrame(100, 500, 0)); // ends the round
        }
        QCOMPARE(
            coloured.colours[0],
            Vectors({kWhite, kWhite, kWhite, kYellow, kYellow, kWhite, kCyan, kCyan, kYellow, kWhite, kWhite, kCyan}));
        QCOMPARE(plain.colours[0], Vectors(12, kWhite));
        QCOMPARE(coloured.reports.size(), std::size_t(1));
        const ShowData report = coloured.reports[0];
        QVERIFY(std::fabs(report.angle - 25.0f) < 1e-4f);
        QCOMPARE(report.distance, 2000.0f);
        QCOMPARE(report.intensity, 254.0f);
        QCOMPARE(report.speed, 600.0f); // RPM
        QCOMPARE(report.spot_frequency, 4500);
        QCOMPARE(QVector3D(coloured.decoder->hoverPoint().x, coloured.decoder->hoverPoint().y, 0),
                 coloured.points[0][5]);

        // Several points within 0.2: one report each, the last is the hover point; none without a return.
        coloured.decoder->setHoverAngle(200.1f);
        coloured.parse(scanFrame(20000, 20022, 800, 30));
        coloured.parse(scanFrame(20000, 20022, 0, 30));
        QCOMPARE(coloured.reports.size(), std::size_t(1 + 12));
        coloured.parse(scanFrame(100, 500, 0));
        QCOMPARE(QVector3D(coloured.decoder->hoverPoint().x, coloured.decoder->hoverPoint().y, 0),
                 coloured.points[1].back());

        // Points held back for the next round stay white, and so do those of the frame ending it.
        coloured.decoder->setHoverAngle(1.0f);
        coloured.parse(scanFrame(34000, 35000, 1000, 255));
        coloured.parse(scanFrame(35500, 500, 1000, 255)); // half of it past 0
        for (int start : {600, 1800, 100})
            coloured.parse(scanFrame(start, start + 1100, 1000, 255));
        Vectors expected(18, kWhite);
        expected.resize(30, kCyan);
        QCOMPARE(coloured.colours.back(), expected);
    }

    void spotFrequency()
    {
        Published published;
        published.decoder->setHoverAngle(10.0f); // one pick a round, in the frame after the round end
        for (int k = 1; k <= 418; ++k)           // eleven rounds of 38 frames (456 points) at 3600
            published.parse(scanFrame(50 + k % 38 * 940, 950 + k % 38 * 940));
        QCOMPARE(published.reports.size(), std::size_t(11));
        for (int round = 1; round <= 10; ++round) // the ring starts full of 4500
            QCOMPARE(published.reports[std::size_t(round)].spot_frequency, ((10 - round) * 4500 + round * 4560) / 10);

        // Ten million points before a round end: the product no longer fits in 32 bits.
        Published late;
        late.decoder->setHoverAngle(50.0f);
        for (int k = 0; k < 833334; ++k)
            late.parse(scanFrame(10000, 10400));
        late.parse(scanFrame(5000, 5400)); // the round end
        late.parse(scanFrame(5000, 5400)); // picks report the new average
        QCOMPARE(late.reports.back().spot_frequency, std::int32_t((9 * 4500 + 10000020LL * 3600 / 360) / 10));
    }

    void malformedFrameIgnored()
    {
        Published published;
        published.parse(scanFrame(20000, 20400));
        QByteArray wrong_count = hexFixture("example_frame.hex"); // 100 degrees: would end the round
        wrong_count[1] = char(0x3F);                              // 31 points would run past the frame
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QStringLiteral("parseFrame.*size 47$")));
        published.parse(wrong_count);
        QCOMPARE(published.points.size(), std::size_t(0));
    }
};

QTEST_GUILESS_MAIN(DecoderTest)
#include "tst_decoder.moc"

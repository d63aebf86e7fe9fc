// Point decoding and scan assembly: positions, rounds, colours, the hover pick, the spot frequency.

#include <QtTest>

#include <cmath>

#include "SerialPort/serial_data.h"
#include "support/fixtures.h"

using namespace tx710;

QByteArray frame(int start, int end, int distance = 1000, int intensity = 100, int speed = 3600)
{
    ScanFrameFields fields{std::uint16_t(speed), std::uint16_t(start), std::uint16_t(end), 0, {}};
    fields.points.fill(ScanPoint{std::uint16_t(distance), std::uint8_t(intensity)});
    return QByteArray(reinterpret_cast<const char*>(encodeFrame(fields).data()), 47);
}
QByteArray fixture(const char* name)
{
    return tx710test::hexFixture(QString::fromLatin1(name));
}

struct Decoder : SerialData {
    using SerialData::frequency_ring_, SerialData::next_colors_, SerialData::next_points_, SerialData::round_colors_,
        SerialData::round_points_, SerialData::spot_counter_, SerialData::spot_frequency_;
};

using Colours = std::vector<QVector3D>;
const QVector3D kWhite(1, 1, 1), kYellow(1, 1, 0), kCyan(0, 1, 1);

class DecoderTest : public QObject
{
    Q_OBJECT
private slots:
    void pointPositions_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("next_round_points"); // when parsed after a frame at 350 degrees
        QTest::newRow("100 to 104") << fixture("example_frame.hex") << 0;
        // Wrapped points lie below the previous start: they belong to the next round.
        QTest::newRow("359 to 3, point 3 without return") << fixture("frame_crossing_359_3.hex") << 8;
        // Any end below the start crosses 0 degrees, whatever the speed.
        QTest::newRow("355 to 5 at 1800") << fixture("frame_reserved_set.hex") << 6;
        QTest::newRow("300 to 20 at 360") << frame(30000, 2000, 1000, 100, 360) << 0;
    }

    void pointPositions()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, next_round_points);
        const ScanFrameFields fields = decodeFrameFields(reinterpret_cast<const std::uint8_t*>(bytes.constData()));
        const double start = fields.start_angle / 100.0, span = std::fmod(fields.end_angle / 100.0 - start + 360, 360);
        Colours expected; // metres; x = -r sin a, y = -r cos a
        for (int i = 0; i < 12; ++i) {
            const double r = fields.points[std::size_t(i)].distance / 1000.0, a = (start + i * span / 11) * M_PI / 180;
            if (r > 0)
                expected.emplace_back(-r * std::sin(a), -r * std::cos(a), 0);
        }
        Decoder decoder;
        if (next_round_points > 0)
            decoder.parseFrame(frame(35000, 35400));
        decoder.parseFrame(bytes);
        QCOMPARE(int(decoder.next_points_.size()), next_round_points);
        Colours points(decoder.round_points_.begin() + (next_round_points > 0 ? 12 : 0), decoder.round_points_.end());
        points.insert(points.end(), decoder.next_points_.begin(), decoder.next_points_.end());
        QCOMPARE(points.size(), expected.size());
        for (std::size_t i = 0; i < points.size(); ++i)
            QVERIFY2((points[i] - expected[i]).length() < 1e-4f, qPrintable(QStringLiteral("point %1").arg(i)));
    }

    void roundPublishedWhenComplete()
    {
        Decoder decoder;
        Colours expected; // one round of 30 frames, every third without returns
        int rounds = 0;
        decoder.setRoundCallback([&] {
            ++rounds;
            QVERIFY(decoder.display_points_ == expected);
        });
        for (int k = 0; k < 30; ++k) {
            decoder.parseFrame(frame(50 + k * 1200, 1150 + k * 1200, k % 3 == 2 ? 0 : 1000 + k));
            if (k % 3 != 2)
                expected.insert(expected.end(), decoder.round_points_.end() - 12, decoder.round_points_.end());
        }
        QVERIFY(rounds == 0 && decoder.display_points_.empty());
        // The first frame of the next revolution ends the round and opens the next.
        decoder.parseFrame(frame(50, 1150, 500));
        QVERIFY(rounds == 1 && decoder.display_colors_.size() == expected.size() && decoder.round_points_.size() == 12);
    }

    void coloursAndHoverPick()
    {
        // Intensities 0 100 210 211 230 254 255 255 211 210 1 255, one degree apart from 20 degrees.
        Decoder coloured, plain;
        coloured.setColorFlag(true);
        std::vector<ShowData> reports;
        coloured.setShowDataCallback([&](ShowData data) { reports.push_back(data); });
        coloured.setHoverAngle(25.1f); // point 5 (254, yellow) is the only one within 0.2: it turns white
        coloured.parseFrame(fixture("frame_intensities.hex"));
        plain.parseFrame(fixture("frame_intensities.hex"));
        QVERIFY(coloured.round_colors_
                == Colours(
                    {kWhite, kWhite, kWhite, kYellow, kYellow, kWhite, kCyan, kCyan, kYellow, kWhite, kWhite, kCyan}));
        QVERIFY(plain.round_colors_ == Colours(12, kWhite));
        QVERIFY(reports.size() == 1 && std::fabs(reports[0].angle - 25.0f) < 1e-4f && reports[0].speed == 600); // RPM
        QVERIFY(reports[0].distance == 2000 && reports[0].intensity == 254 && reports[0].spot_frequency == 4500);
        QCOMPARE(QVector3D(coloured.hoverPoint().x, coloured.hoverPoint().y, 0), coloured.round_points_[5]);

        // Several points within 0.2: one report each, the last is the hover point; none without a return.
        coloured.setHoverAngle(200.1f);
        coloured.parseFrame(frame(20000, 20022, 800, 30));
        coloured.parseFrame(frame(20000, 20022, 0, 30));
        QCOMPARE(reports.size(), std::size_t(1 + 12));
        QCOMPARE(QVector3D(coloured.hoverPoint().x, coloured.hoverPoint().y, 0), coloured.round_points_.back());

        // Points held back for the next round stay white, and so do those of the frame ending it.
        coloured.setShowDataCallback(nullptr); // picks and round ends below run without callbacks
        coloured.setHoverAngle(1.0f);
        coloured.parseFrame(frame(34000, 35000, 1000, 255));
        coloured.parseFrame(frame(35500, 500, 1000, 255)); // half of it past 0
        QVERIFY(coloured.next_colors_ == Colours(6, kWhite));
        for (int start : {600, 1800, 100})
            coloured.parseFrame(frame(start, start + 1100, 1000, 255));
        Colours expected(18, kWhite);
        expected.resize(30, kCyan);
        QVERIFY(coloured.display_colors_ == expected);
    }

    void spotFrequency()
    {
        Decoder decoder;
        for (int k = 1; k <= 380; ++k) { // ten rounds of 38 frames (456 points) at 3600
            decoder.parseFrame(frame(50 + k % 38 * 940, 950 + k % 38 * 940));
            if (k % 38 == 0) // the ring starts full of 4500
                QCOMPARE(decoder.spot_frequency_, ((10 - k / 38) * 4500 + k / 38 * 4560) / 10);
        }
        QVERIFY(decoder.frequency_ring_ == std::vector<float>(10, 4560.0f));

        // Ten million points before a round end: the product no longer fits in 32 bits.
        Decoder late;
        late.parseFrame(frame(10000, 10400));
        late.spot_counter_ = 10000000;
        late.parseFrame(frame(5000, 5400));
        QCOMPARE(late.frequency_ring_[0], float(std::int64_t(10000012) * 3600 / 360));
        QCOMPARE(late.spot_frequency_, std::int32_t((9 * 4500 + 100000120LL) / 10));
    }

    void malformedFrameIgnored()
    {
        Decoder decoder;
        QByteArray wrong_count = fixture("example_frame.hex");
        wrong_count[1] = char(0x3F); // 31 points would run past the frame
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QStringLiteral("parseFrame.*size 47$")));
        decoder.parseFrame(wrong_count);
        QVERIFY(decoder.round_points_.empty() && decoder.spot_counter_ == 0);
    }
};

QTEST_GUILESS_MAIN(DecoderTest)
#include "tst_decoder.moc"

// Point decoding and scan assembly: angles, positions, colours, rounds,
// the hover pick and the spot frequency.

#include <QtTest>

#include <cmath>

#include "SerialPort/serial_data.h"
#include "support/fixtures.h"

using namespace tx710;

namespace {

QByteArray frame(int start, int end, int distance = 1000, int intensity = 100, int speed = 3600)
{
    ScanFrameFields fields{std::uint16_t(speed), std::uint16_t(start), std::uint16_t(end), 0, {}};
    fields.points.fill(ScanPoint{std::uint16_t(distance), std::uint8_t(intensity)});
    return QByteArray(reinterpret_cast<const char*>(encodeFrame(fields).data()), 47);
}

struct Decoder : SerialData {
    using SerialData::frequency_ring_, SerialData::next_colors_, SerialData::next_points_, SerialData::round_colors_,
        SerialData::round_points_, SerialData::spot_counter_, SerialData::spot_frequency_;
    void parse(int start, int end, int distance = 1000, int intensity = 100, int speed = 3600)
    {
        parseFrame(frame(start, end, distance, intensity, speed));
    }
};

// Polar angle (degrees, 0..360) of a display position: x = -r sin a, y = -r cos a.
double angleOf(const QVector3D& point)
{
    const double angle = std::atan2(-point.x(), -point.y()) * 180.0 / M_PI;
    return angle < 0 ? angle + 360.0 : angle;
}

using Colours = std::vector<QVector3D>;
const QVector3D kWhite(1, 1, 1), kYellow(1, 1, 0), kCyan(0, 1, 1);

} // namespace

class DecoderTest : public QObject
{
    Q_OBJECT
private slots:
    void pointPositions_data();
    void pointPositions();
    void roundPublishedWhenComplete();
    void colours();
    void hoverPick();
    void spotFrequency();
    void malformedOrUnwiredInputIsHarmless();
};

void DecoderTest::pointPositions_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<int>("previous_start"); // of a frame parsed before, or -1
    QTest::addColumn<int>("next_round_points");
    auto fixture = [](const char* name) { return tx710test::hexFixture(QString::fromLatin1(name)); };
    QTest::newRow("100 to 104") << fixture("example_frame.hex") << -1 << 0;
    // Wrapped points lie below the previous start: they belong to the next round.
    QTest::newRow("359 to 3, point 3 without return") << fixture("frame_crossing_359_3.hex") << 35000 << 8;
    // Any end below the start crosses 0 degrees, whatever the speed.
    QTest::newRow("355 to 5 at 1800") << fixture("frame_reserved_set.hex") << 35000 << 6;
    QTest::newRow("300 to 20 at 360") << frame(30000, 2000, 1000, 100, 360) << -1 << 0;
}

void DecoderTest::pointPositions()
{
    QFETCH(QByteArray, frame);
    QFETCH(int, previous_start);
    QFETCH(int, next_round_points);
    const ScanFrameFields fields = decodeFrameFields(reinterpret_cast<const std::uint8_t*>(frame.constData()));
    const double start = fields.start_angle / 100.0;
    const double span = std::fmod(fields.end_angle / 100.0 - start + 360.0, 360.0);
    Decoder decoder;
    if (previous_start >= 0)
        decoder.parse(previous_start, previous_start + 400);
    decoder.parseFrame(frame);
    QCOMPARE(int(decoder.next_points_.size()), next_round_points);
    std::vector<QVector3D> points(decoder.round_points_.begin() + (previous_start >= 0 ? 12 : 0),
                                  decoder.round_points_.end());
    points.insert(points.end(), decoder.next_points_.begin(), decoder.next_points_.end());
    std::size_t at = 0;
    for (int i = 0; i < 12; ++i) {
        const double distance = fields.points[std::size_t(i)].distance / 1000.0;
        if (distance == 0)
            continue;
        QVERIFY(at < points.size());
        const QVector3D point = points[at++];
        const double angle = std::fmod(start + i * span / 11.0, 360.0);
        QVERIFY2(std::fabs(angleOf(point) - angle) < 1e-3, qPrintable(QStringLiteral("point %1").arg(i)));
        QVERIFY(std::fabs(point.length() - distance) < 1e-4 && point.z() == 0.0f);
    }
    QCOMPARE(at, points.size());
    if (fields.start_angle == 10000)
        QVERIFY(std::fabs(points[0].x() + 0.9848f) < 1e-4f && std::fabs(points[0].y() - 0.1736f) < 1e-4f);
}

void DecoderTest::roundPublishedWhenComplete()
{
    Decoder decoder;
    std::vector<std::size_t> published; // sizes of the display arrays when the callback runs
    decoder.setRoundCallback([&] { published.push_back(decoder.display_points_.size()); });
    // One round of 30 frames, every third frame without returns.
    std::vector<QVector3D> expected;
    for (int k = 0; k < 30; ++k) {
        decoder.parse(50 + k * 1200, 1150 + k * 1200, k % 3 == 2 ? 0 : 1000 + k);
        if (k % 3 != 2)
            expected.insert(expected.end(), decoder.round_points_.end() - 12, decoder.round_points_.end());
        QVERIFY(published.empty() && decoder.display_points_.empty());
    }
    // The first frame of the next revolution ends the round and opens the next.
    decoder.parse(50, 1150, 0);
    decoder.parse(1250, 2350, 500);
    QVERIFY(published == std::vector<std::size_t>{expected.size()});
    QVERIFY(decoder.display_points_ == expected && decoder.display_colors_.size() == expected.size());
    QCOMPARE(decoder.round_points_.size(), std::size_t(12));
}

void DecoderTest::colours()
{
    // Intensities 0 100 210 211 230 254 255 255 211 210 1 255.
    const QByteArray intensities = tx710test::hexFixture(QStringLiteral("frame_intensities.hex"));
    Decoder coloured, plain;
    coloured.setColorFlag(true);
    coloured.parseFrame(intensities);
    plain.parseFrame(intensities);
    QVERIFY(coloured.round_colors_
            == Colours({kWhite, kWhite, kWhite, kYellow, kYellow, kYellow, kCyan, kCyan, kYellow, kWhite, kWhite, kCyan}));
    QVERIFY(plain.round_colors_ == Colours(12, kWhite));

    // Points held back for the next round stay white, and so do those of the
    // frame that ends the round (they too lie below the last start angle).
    coloured.parse(34000, 35000, 1000, 255);
    coloured.parse(35500, 500, 1000, 255); // half of it past 0
    QVERIFY(coloured.next_colors_ == Colours(6, kWhite));
    QVERIFY(Colours(coloured.round_colors_.end() - 18, coloured.round_colors_.end()) == Colours(18, kCyan));
    for (int start : {600, 1800, 100})
        coloured.parse(start, start + 1100, 1000, 255);
    Colours expected(18, kWhite);
    expected.resize(30, kCyan);
    QVERIFY(coloured.display_colors_ == expected);
}

void DecoderTest::hoverPick()
{
    Decoder decoder;
    decoder.setColorFlag(true);
    std::vector<ShowData> reports;
    decoder.setShowDataCallback([&](ShowData data) { reports.push_back(data); });
    decoder.parse(10000, 10400, 1000, 255);
    QVERIFY(reports.empty()); // no hover angle yet

    // 0.1 degree beyond point 5: only that point is within 0.2.
    decoder.setHoverAngle(100.0f + 5 * 4.0f / 11.0f + 0.1f);
    decoder.parse(10000, 10400, 1500, 255);
    QCOMPARE(reports.size(), std::size_t(1));
    QVERIFY(std::fabs(reports[0].angle - (100.0f + 5 * 4.0f / 11.0f)) < 1e-4f);
    QVERIFY(reports[0].distance == 1500.0f && reports[0].intensity == 255.0f && reports[0].speed == 600.0f);
    QCOMPARE(reports[0].spot_frequency, 4500);
    QCOMPARE(QVector3D(decoder.hoverPoint().x, decoder.hoverPoint().y, 0), decoder.round_points_[17]);
    QVERIFY(decoder.round_colors_[17] == kWhite && decoder.round_colors_[16] == kCyan);

    // Several points within the tolerance: one report each, the last one is
    // the hover point; points without a return are never picked.
    decoder.setHoverAngle(200.1f);
    decoder.parse(20000, 20022, 800, 30);
    decoder.parse(20000, 20022, 0, 30);
    QCOMPARE(reports.size(), std::size_t(1 + 12));
    QCOMPARE(QVector3D(decoder.hoverPoint().x, decoder.hoverPoint().y, 0), decoder.round_points_.back());
}

void DecoderTest::spotFrequency()
{
    Decoder decoder;
    std::vector<ShowData> reports;
    decoder.setShowDataCallback([&](ShowData data) { reports.push_back(data); });
    // Rounds of 38 frames (456 points) at 3600, each ended by the frame at 0.5 degrees.
    for (int k = 0; k < 37; ++k)
        decoder.parse(100 + k * 950, 1000 + k * 950);
    for (int round = 0; round < 10; ++round) {
        decoder.parse(50, 950);
        QCOMPARE(decoder.frequency_ring_[std::size_t(round)], 4560.0f);
        // The ring starts full of 4500.
        QCOMPARE(decoder.spot_frequency_, ((9 - round) * 4500 + (round + 1) * 4560) / 10);
        for (int k = 1; k < 38; ++k)
            decoder.parse(50 + k * 940, 950 + k * 940);
    }
    // The read-out carries the averaged frequency and the speed in RPM.
    decoder.setHoverAngle(50.0f);
    decoder.parse(5000, 5900, 1000, 1, 1800);
    QVERIFY(!reports.empty() && reports[0].spot_frequency == 4560 && reports[0].speed == 300.0f);

    // Ten million points before a round end: the product no longer fits in 32 bits.
    Decoder late;
    late.parse(10000, 10400);
    late.spot_counter_ = 10000000;
    late.parse(5000, 5400);
    QCOMPARE(late.frequency_ring_[0], float(std::int64_t(10000012) * 3600 / 360));
    QCOMPARE(late.spot_frequency_, std::int32_t((9 * 4500 + 100000120LL) / 10));
}

void DecoderTest::malformedOrUnwiredInputIsHarmless()
{
    Decoder decoder;
    QByteArray wrong_count = tx710test::hexFixture(QStringLiteral("example_frame.hex"));
    wrong_count[1] = char(0x3F); // 31 points would run past the frame
    for (const QByteArray& bytes : {QByteArray("\x54\x2C\x10", 3), wrong_count}) {
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QStringLiteral("parseFrame")));
        decoder.parseFrame(bytes);
    }
    QVERIFY(decoder.round_points_.empty() && decoder.spot_counter_ == 0);
    // No callbacks set: picks and round ends still work.
    decoder.setHoverAngle(100.0f);
    decoder.parse(10000, 10400);
    decoder.parse(5000, 5400);
    QCOMPARE(decoder.display_points_.size(), std::size_t(12));
    QCOMPARE(decoder.hoverPoint().x, decoder.display_points_[0].x());
}

QTEST_GUILESS_MAIN(DecoderTest)
#include "tst_decoder.moc"
// Point decoding and scan assembly: angles, positions, colours, rounds,
// the hover pick and the spot frequency.

#include <QtTest>

#include <cmath>

#include "SerialPort/frame_protocol.h"
#include "SerialPort/serial_data.h"
#include "support/fixtures.h"

using namespace tx710;

namespace {

class Decoder : public SerialData
{
public:
    using SerialData::frequency_ring_;
    using SerialData::hover_angle_;
    using SerialData::last_start_angle_;
    using SerialData::next_colors_;
    using SerialData::next_points_;
    using SerialData::round_colors_;
    using SerialData::round_points_;
    using SerialData::spot_counter_;
    using SerialData::spot_frequency_;

    void parse(const FrameBytes& frame) { parseFrame(QByteArray(reinterpret_cast<const char*>(frame.data()), 47)); }
};

FrameBytes makeFrame(std::uint16_t start, std::uint16_t end, std::uint16_t distance = 1000,
                     std::uint8_t intensity = 100, std::uint16_t speed = 3600)
{
    ScanFrameFields fields;
    fields.speed = speed;
    fields.start_angle = start;
    fields.end_angle = end;
    for (auto& point : fields.points)
        point = ScanPoint{distance, intensity};
    return encodeFrame(fields);
}

// Polar angle (degrees, 0..360) of a display position: x = -r sin a, y = -r cos a.
double angleOf(const QVector3D& point)
{
    double angle = std::atan2(-point.x(), -point.y()) * 180.0 / M_PI;
    return angle < 0 ? angle + 360.0 : angle;
}

const QVector3D kWhite(1, 1, 1);
const QVector3D kYellow(1, 1, 0);
const QVector3D kCyan(0, 1, 1);

} // namespace

class DecoderTest : public QObject
{
    Q_OBJECT
private slots:
    void positionsOfExampleFrame();
    void frameCrossingZero();
    void frameCrossingZeroOutsideWindow();
    void roundPublishedWhenComplete();
    void nextRoundPointsAreWhite();
    void colourMap();
    void hoverPick();
    void spotFrequency();
    void spotFrequencyWithoutRoundEndForLong();
    void callbacksReplacedAndOptional();
    void malformedDirectCallIgnored();
};

void DecoderTest::positionsOfExampleFrame()
{
    Decoder decoder;
    decoder.parseFrame(tx710test::hexFixture(QStringLiteral("example_frame.hex")));
    QCOMPARE(decoder.round_points_.size(), std::size_t(12));
    QCOMPARE(decoder.round_colors_.size(), std::size_t(12));
    const QVector3D first = decoder.round_points_.front();
    const QVector3D last = decoder.round_points_.back();
    QVERIFY(std::fabs(first.x() - -0.9848f) < 1e-4f && std::fabs(first.y() - 0.1736f) < 1e-4f);
    QVERIFY(std::fabs(last.x() - -0.9703f) < 1e-4f && std::fabs(last.y() - 0.2419f) < 1e-4f);
    for (int i = 0; i < 12; ++i) {
        QVERIFY(std::fabs(angleOf(decoder.round_points_[std::size_t(i)]) - (100.0 + i * 4.0 / 11.0)) < 1e-3);
        QCOMPARE(decoder.round_points_[std::size_t(i)].z(), 0.0f);
        QCOMPARE(decoder.round_colors_[std::size_t(i)], kWhite);
    }
    QCOMPARE(decoder.last_start_angle_, 100.0f);
    QVERIFY(decoder.display_points_.empty());
}

void DecoderTest::frameCrossingZero()
{
    // Start 359.00, end 3.00 at 3600: span 4, step 4/11; points 3.. lie past 360.
    Decoder decoder;
    decoder.parse(makeFrame(35000, 35400));
    decoder.parseFrame(tx710test::hexFixture(QStringLiteral("frame_crossing_359_3.hex")));
    // Point 3 has no return; the wrapped ones lie below the previous start and
    // therefore belong to the next round.
    QCOMPARE(decoder.round_points_.size(), std::size_t(12 + 3));
    QCOMPARE(decoder.next_points_.size(), std::size_t(8));
    for (int i = 0; i < 3; ++i)
        QVERIFY(std::fabs(angleOf(decoder.round_points_[std::size_t(12 + i)]) - (359.0 + i * 4.0 / 11.0)) < 1e-3);
    for (int i = 4; i < 12; ++i) {
        const QVector3D point = decoder.next_points_[std::size_t(i - 4)];
        QVERIFY(std::fabs(angleOf(point) - (i * 4.0 / 11.0 - 1.0)) < 1e-3);
        QVERIFY(std::fabs(point.length() - (0.5f + 0.1f * i)) < 1e-4f);
    }
}

void DecoderTest::frameCrossingZeroOutsideWindow()
{
    // Start 355.00, end 5.00 at 1800: the frame still crosses 0 degrees
    // (span 10), it is not spread backwards over the circle.
    Decoder decoder;
    decoder.parseFrame(tx710test::hexFixture(QStringLiteral("frame_reserved_set.hex")));
    QCOMPARE(decoder.round_points_.size(), std::size_t(12));
    for (int i = 0; i < 12; ++i) {
        double expected = 355.0 + i * 10.0 / 11.0;
        if (expected > 360.0)
            expected -= 360.0;
        QVERIFY2(std::fabs(angleOf(decoder.round_points_[std::size_t(i)]) - expected) < 1e-3,
                 qPrintable(QString::number(angleOf(decoder.round_points_[std::size_t(i)]))));
    }
    // Any end below the start crosses, whatever the speed.
    Decoder slow;
    slow.parse(makeFrame(30000, 2000, 1000, 100, 360));
    QVERIFY(std::fabs(angleOf(slow.round_points_[11]) - 20.0) < 1e-3);
    QVERIFY(std::fabs(angleOf(slow.round_points_[1]) - (300.0 + 80.0 / 11.0)) < 1e-3);
}

void DecoderTest::roundPublishedWhenComplete()
{
    Decoder decoder;
    int rounds = 0;
    decoder.setRoundCallback([&] {
        ++rounds;
        // The display arrays already hold the new round when the callback runs.
        QCOMPARE(decoder.display_points_.size(), decoder.display_colors_.size());
    });
    // One round of 30 frames, every third frame without returns.
    std::vector<QVector3D> expected;
    for (int k = 0; k < 30; ++k) {
        const auto start = std::uint16_t(50 + k * 1200);
        const std::uint16_t distance = k % 3 == 2 ? 0 : std::uint16_t(1000 + k);
        decoder.parse(makeFrame(start, std::uint16_t(start + 1100), distance));
        if (distance != 0)
            expected.insert(expected.end(), decoder.round_points_.end() - 12, decoder.round_points_.end());
        QCOMPARE(rounds, 0);
        QVERIFY(decoder.display_points_.empty());
    }
    // The first frame of the next revolution ends the round.
    decoder.parse(makeFrame(50, 1150, 0));
    QCOMPARE(rounds, 1);
    QCOMPARE(decoder.display_points_.size(), std::size_t(20 * 12));
    QVERIFY(decoder.display_points_ == expected);
    QCOMPARE(decoder.display_colors_.size(), decoder.display_points_.size());
    QVERIFY(decoder.round_points_.empty());
    // The frame that ended the round opens the next one.
    decoder.parse(makeFrame(1250, 2350, 500));
    QCOMPARE(rounds, 1);
    QCOMPARE(decoder.round_points_.size(), std::size_t(12));
}

void DecoderTest::nextRoundPointsAreWhite()
{
    Decoder decoder;
    decoder.setColorFlag(true);
    decoder.parse(makeFrame(34000, 35000, 1000, 255));
    decoder.parse(makeFrame(35500, 500, 1000, 255)); // 355 to 5: half of it past 0
    QCOMPARE(decoder.round_points_.size() + decoder.next_points_.size(), std::size_t(24));
    QCOMPARE(decoder.next_points_.size(), std::size_t(6));
    for (const QVector3D& colour : decoder.next_colors_)
        QCOMPARE(colour, kWhite);
    for (std::size_t i = 0; i < decoder.round_colors_.size(); ++i)
        QCOMPARE(decoder.round_colors_[i], kCyan);
    // The next frame ends the round; its own points open the next one and,
    // like the held-back points, stay white.
    decoder.parse(makeFrame(600, 1700, 1000, 255));
    QCOMPARE(decoder.display_points_.size(), std::size_t(12 + 6));
    decoder.parse(makeFrame(1800, 2900, 1000, 255));
    decoder.parse(makeFrame(100, 1200, 1000, 255));
    QCOMPARE(decoder.display_points_.size(), std::size_t(6 + 12 + 12));
    for (std::size_t i = 0; i < 18; ++i)
        QCOMPARE(decoder.display_colors_[i], kWhite);
    for (std::size_t i = 18; i < decoder.display_colors_.size(); ++i)
        QCOMPARE(decoder.display_colors_[i], kCyan);
}

void DecoderTest::colourMap()
{
    const QByteArray frame = tx710test::hexFixture(QStringLiteral("frame_intensities.hex"));
    // Intensities 0 100 210 211 230 254 255 255 211 210 1 255.
    const std::vector<QVector3D> expected = {kWhite, kWhite, kWhite, kYellow, kYellow, kYellow,
                                             kCyan,  kCyan,  kYellow, kWhite, kWhite,  kCyan};
    Decoder coloured;
    coloured.setColorFlag(true);
    coloured.parseFrame(frame);
    QVERIFY(coloured.round_colors_ == expected);

    Decoder plain;
    plain.parseFrame(frame);
    QCOMPARE(plain.round_colors_.size(), std::size_t(12));
    for (const QVector3D& colour : plain.round_colors_)
        QCOMPARE(colour, kWhite);
}

void DecoderTest::hoverPick()
{
    Decoder decoder;
    decoder.setColorFlag(true);
    std::vector<ShowData> reports;
    decoder.setShowDataCallback([&](ShowData data) { reports.push_back(data); });
    QCOMPARE(decoder.hover_angle_, -1.0f);
    decoder.parse(makeFrame(10000, 10400, 1000, 255));
    QVERIFY(reports.empty());
    QCOMPARE(decoder.hoverPoint().x, 0.0f);

    // 0.1 degree beyond point 5: only that point is within 0.2.
    decoder.setHoverAngle(100.0f + 5 * 4.0f / 11.0f + 0.1f);
    decoder.parse(makeFrame(10000, 10400, 1500, 255));
    QCOMPARE(reports.size(), std::size_t(1));
    QVERIFY(std::fabs(reports[0].angle - (100.0f + 5 * 4.0f / 11.0f)) < 1e-4f);
    QCOMPARE(reports[0].distance, 1500.0f);
    QCOMPARE(reports[0].intensity, 255.0f);
    QCOMPARE(reports[0].speed, 600.0f);
    QCOMPARE(reports[0].spot_frequency, 4500);
    for (float field : reports[0].reserved)
        QCOMPARE(field, 0.0f);
    const QVector3D picked = decoder.round_points_[12 + 5];
    QCOMPARE(decoder.hoverPoint().x, picked.x());
    QCOMPARE(decoder.hoverPoint().y, picked.y());
    QCOMPARE(decoder.round_colors_[12 + 5], kWhite);
    QCOMPARE(decoder.round_colors_[12 + 4], kCyan);

    // Several points within the tolerance: one report each, the last one wins.
    reports.clear();
    decoder.setHoverAngle(200.1f);
    decoder.parse(makeFrame(20000, 20022, 800, 30));
    QCOMPARE(reports.size(), std::size_t(12));
    QCOMPARE(decoder.hoverPoint().x, decoder.round_points_.back().x());
    QCOMPARE(decoder.hoverPoint().y, decoder.round_points_.back().y());

    // Points without a return are never picked.
    reports.clear();
    decoder.parse(makeFrame(20000, 20022, 0, 30));
    QVERIFY(reports.empty());
}

void DecoderTest::spotFrequency()
{
    Decoder decoder;
    QCOMPARE(decoder.spot_frequency_, 4500);
    // Rounds of 38 frames (456 points), each ended by a frame at speed 3600.
    auto oneRound = [&decoder] {
        for (int k = 0; k < 37; ++k)
            decoder.parse(makeFrame(std::uint16_t(100 + k * 950), std::uint16_t(100 + k * 950 + 900)));
    };
    oneRound();
    decoder.parse(makeFrame(50, 950)); // 38th frame: ends the round
    QCOMPARE(decoder.frequency_ring_[0], 4560.0f);
    QCOMPARE(decoder.spot_frequency_, (9 * 4500 + 4560) / 10);
    for (int round = 1; round < 10; ++round) {
        QVERIFY(decoder.spot_frequency_ < 4560);
        // 37 frames after the one that opened this round, then the next opener.
        for (int k = 1; k < 38; ++k)
            decoder.parse(makeFrame(std::uint16_t(50 + k * 940), std::uint16_t(50 + k * 940 + 900)));
        decoder.parse(makeFrame(50, 950));
    }
    QCOMPARE(decoder.spot_frequency_, 4560);

    // The read-out carries the averaged frequency and the speed in RPM.
    std::vector<ShowData> reports;
    decoder.setShowDataCallback([&](ShowData data) { reports.push_back(data); });
    decoder.setHoverAngle(50.0f);
    decoder.parse(makeFrame(5000, 5900, 1000, 1, 1800));
    QVERIFY(!reports.empty());
    QCOMPARE(reports[0].spot_frequency, 4560);
    QCOMPARE(reports[0].speed, 300.0f);
}

void DecoderTest::spotFrequencyWithoutRoundEndForLong()
{
    // Ten million points before a round end: the product no longer fits in 32 bits.
    Decoder decoder;
    decoder.parse(makeFrame(10000, 10400));
    decoder.spot_counter_ = 10000000;
    decoder.parse(makeFrame(5000, 5400)); // ends the round at speed 3600
    QCOMPARE(decoder.frequency_ring_[0], float(std::int64_t(10000012) * 3600 / 360));
    QCOMPARE(decoder.spot_frequency_, std::int32_t((9 * 4500 + 100000120LL) / 10));
    QCOMPARE(decoder.spot_counter_, std::int64_t(0));
}

void DecoderTest::callbacksReplacedAndOptional()
{
    Decoder decoder;
    // No callbacks set: rounds and picks happen without them.
    decoder.setHoverAngle(100.0f);
    decoder.parse(makeFrame(10000, 10400));
    decoder.parse(makeFrame(5000, 5400));
    QCOMPARE(decoder.display_points_.size(), std::size_t(12));

    int first = 0;
    int second = 0;
    decoder.setRoundCallback([&] { ++first; });
    decoder.setRoundCallback([&] { ++second; });
    decoder.parse(makeFrame(6000, 6400));
    decoder.parse(makeFrame(1000, 1400));
    QCOMPARE(first, 0);
    QCOMPARE(second, 1);
    QCOMPARE(decoder.display_points_.size(), std::size_t(24));
}

void DecoderTest::malformedDirectCallIgnored()
{
    Decoder decoder;
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QStringLiteral("parseFrame")));
    decoder.parseFrame(QByteArray("\x54\x2C\x10", 3));
    QByteArray wrong_count = tx710test::hexFixture(QStringLiteral("example_frame.hex"));
    wrong_count[1] = char(0x3F); // 31 points would run past the frame
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QStringLiteral("parseFrame")));
    decoder.parseFrame(wrong_count);
    QVERIFY(decoder.round_points_.empty());
    QCOMPARE(decoder.spot_counter_, std::int64_t(0));
}

QTEST_GUILESS_MAIN(DecoderTest)
#include "tst_decoder.moc"

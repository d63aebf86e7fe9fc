// The byte protocol and its decoding: CRC-8, the frame layout, the frame finder (splits, corrupted
// frames, stray bytes, log lines and their budget), and what the decoder publishes: the display
// arrays of each completed round, the round callback, the read-out records of picked points.

#include <QtTest>

#include <cmath>

#include "SerialPort/link_health.h"
#include "SerialPort/rejection_log_budget.h"
#include "SerialPort/serial_data_p.h"
#include "support/fixtures.h"
#include "support/modal_watcher.h"

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

QByteArray bytesOf(const std::uint8_t* data, std::size_t length)
{
    return QByteArray((const char*)data, int(length));
}
const std::uint8_t* dataOf(const QByteArray& bytes)
{
    return reinterpret_cast<const std::uint8_t*>(bytes.constData());
}

struct Collector : FrameConsumer { // verdicts in order: "A" + frame, or "R" + frame + "K" + the bytes kept
    QByteArrayList events;
    void frameAccepted(const std::uint8_t* frame) override { events << "A" + bytesOf(frame, 47); }
    void frameRejected(const std::uint8_t* frame, const std::uint8_t* kept, std::size_t length) override
    {
        events << "R" + bytesOf(frame, 47) + "K" + bytesOf(kept, length);
    }
};

QByteArray frameAt(int start, int distance = 1000, int intensity = 100)
{
    return scanFrame(start, start + 400, distance, intensity);
}

} // namespace

class DecoderTest : public QObject
{
    Q_OBJECT
private slots:
    void crcAndFixtures()
    {
        QCOMPARE(crc8(dataOf("123456789"), 9), std::uint8_t(0xC3));
        for (const QString& name : QDir(TX710_FIXTURES_DIR).entryList({QStringLiteral("*frame*.hex")})) {
            const QByteArray frame = hexFixture(name);
            QCOMPARE(frame.size(), 47);
            QVERIFY2(frameCrcMatches(dataOf(frame)), qPrintable(name));
            QCOMPARE(bytesOf(encodeFrame(decodeFrameFields(dataOf(frame))).data(), 47), frame);
        }
        const ScanFrameFields e = decodeFrameFields(dataOf(hexFixture("example_frame.hex")));
        QCOMPARE(QVector<int>({e.speed, e.start_angle, e.end_angle, e.points[11].distance, e.points[11].intensity}),
                 QVector<int>({3600, 10000, 10400, 1000, 200}));
    }

    void verdictsAtEveryCut_data()
    {
        QTest::addColumn<QByteArray>("stream");
        QTest::addColumn<QByteArrayList>("events");
        const QByteArray one = hexFixture("example_frame.hex"), two = frameAt(1500), bad = one.left(46) + '\xCF';
        const QByteArray cut = frameAt(1000).left(20), lost_byte = frameAt(1000).remove(10, 1);
        const QByteArray pair = frameAt(1000, 0x2C54, 0x54); // distance stored as 54 2C
        QTest::newRow("bad CRC, no header inside") << bad + two << QByteArrayList{"R" + bad + "K", "A" + two};
        // The 47 bytes collected hold the next frame's beginning, which is kept.
        QTest::newRow("bad CRC, next frame inside")
            << cut + two << QByteArrayList{"R" + cut + two.left(27) + "K" + two.left(27), "A" + two};
        // A frame that lost a byte ends on the next frame's 0x54.
        QTest::newRow("frame missing one byte")
            << lost_byte + two << QByteArrayList{"R" + lost_byte + two.left(1) + "K", "A" + two};
        // Opened mid-stream, noise between frames (0x54 not followed by 0x2C), a lone header at the end.
        QTest::newRow("stray bytes") << one.mid(13) + QByteArray("\x54\x54\x00\x2C\x2C\x54", 6) + one
                + QByteArray("\x00\xFF\x54", 3) + two
                + "\x2C\x54" << QByteArrayList{"A" + one, "A" + two};
        QTest::newRow("header pair in payload") << pair + pair << QByteArrayList{"A" + pair, "A" + pair};
    }

    void verdictsAtEveryCut()
    {
        QFETCH(QByteArray, stream);
        QFETCH(QByteArrayList, events);
        // One cut at every position (with an empty read in it), then one byte per read.
        for (int cut = 0; cut <= stream.size() + 1; ++cut) {
            QByteArrayList reads;
            for (int at = 0; cut > stream.size() && at < stream.size(); ++at)
                reads << stream.mid(at, 1);
            if (reads.isEmpty())
                reads = QByteArrayList{stream.left(cut), QByteArray(), stream.mid(cut)};
            Collector collector;
            FrameFinder finder(&collector);
            for (const QByteArray& read : reads)
                finder.feed(dataOf(read), std::size_t(read.size()));
            QVERIFY2(collector.events == events, qPrintable(QStringLiteral("cut at %1").arg(cut)));
        }
    }

    // Each rejected frame logged with its bytes, up to a hundred a second; good frames without a line.
    void decoderLogsRejectedFrames()
    {
        const SerialDataTestAccess::Decoder decoder = SerialDataTestAccess::create();
        const QByteArray bad = hexFixture("example_frame.hex").left(46) + '\0', next = frameAt(1500);
        tx710test::LogCapture log;
        decoder->findFrame(bad);
        decoder->findFrame(frameAt(1000).left(30) + next);
        const QStringList lines = log.lines();
        QCOMPARE(lines.size(), 8);
        QVERIFY2(QRegularExpression('^' + tx710test::kLogStamp + '$').match(lines[0]).hasMatch(), qPrintable(lines[0]));
        auto quotedHex = [](const QByteArray& bytes) { return QString('"' + bytes.toHex().toUpper() + '"'); };
        QCOMPARE(lines.mid(1, 3), QStringList({quotedHex(bad), "frame find error", "error"}));
        QCOMPARE(lines.mid(6), QStringList({"frame find error", "++++ " + quotedHex(next.left(17))}));
        QCOMPARE(decoder->acceptedFrameCount(), std::uint64_t(1));
        decoder->findFrame(bad.repeated(300)); // in the same second
        QCOMPARE(decoder->rejectedFrameCount(), std::uint64_t(302));
        QCOMPARE(log.lines().filter(QStringLiteral("frame find error")).size(), 100);
    }

    void rejectionLogBudget()
    {
        std::int64_t now = 0;
        RejectionLogBudget budget([&now] { return now; });
        tx710test::LogCapture log;
        auto shown = [&](int frames, std::int64_t step_ms) {
            int count = 0;
            for (int i = 0; i < frames; ++i, now += step_ms)
                count += budget.admit() ? 1 : 0;
            return count;
        };
        auto summaries = [&] { // the counts of the summary lines
            QStringList counts;
            const QRegularExpression line(R"(^\[ )" + tx710test::kLogStamp
                                          + R"( \] frame finder: (\d+) rejected frames not shown)");
            for (const QString& text : log.lines())
                if (const auto match = line.match(text); match.hasMatch())
                    counts << match.captured(1);
            return counts;
        };
        // One frame in ten corrupted at line rate, 49 a second: every one shown.
        QCOMPARE(shown(3 * 49, 1000 / 49), 3 * 49);
        QCOMPARE(summaries(), QStringList());
        // A burst: 100 shown; the rest summed up when the next second's first rejection comes.
        now = 10000;
        QCOMPARE(shown(250, 0), 100);
        QCOMPARE(summaries(), QStringList());
        now = 11000;
        QCOMPARE(shown(1, 0), 1);
        QCOMPARE(summaries(), QStringList{"150"});
        // Rejections stop: the timer writes the last summary when the second ends.
        now = 11999;
        QCOMPARE(shown(150, 0), 99);
        now = 12000;
        QTRY_COMPARE(summaries(), QStringList({"150", "51"}));
    }
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
        const ScanFrameFields fields = decodeFrameFields(dataOf(bytes));
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
        const ShowData r = coloured.reports[0]; // angle, distance, intensity, RPM, spot frequency
        QCOMPARE(QVector<double>(
                     {std::round(r.angle * 1000) / 1000, r.distance, r.intensity, r.speed, double(r.spot_frequency)}),
                 QVector<double>({25, 2000, 254, 600, 4500}));
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

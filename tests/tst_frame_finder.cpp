// CRC-8, the frame layout and the frame finder: splits, corrupted frames, stray bytes, log lines.

#include <QtTest>

#include "SerialPort/rejection_log_budget.h"
#include "SerialPort/serial_data_p.h"
#include "support/fixtures.h"
#include "support/modal_watcher.h"

using namespace tx710;

QByteArray bytesOf(const std::uint8_t* data, std::size_t length)
{
    return QByteArray((const char*)data, int(length));
}
const std::uint8_t* dataOf(const QByteArray& bytes)
{
    return reinterpret_cast<const std::uint8_t*>(bytes.constData());
}
QByteArray fixture(const char* name)
{
    return tx710test::hexFixture(QString::fromLatin1(name));
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
    ScanFrameFields fields{3600, std::uint16_t(start), std::uint16_t(start + 400), 0, {}};
    fields.points.fill(ScanPoint{std::uint16_t(distance), std::uint8_t(intensity)});
    return bytesOf(encodeFrame(fields).data(), 47);
}

class FrameFinderTest : public QObject
{
    Q_OBJECT
private slots:
    void crcAndFixtures()
    {
        QCOMPARE(crc8(dataOf("123456789"), 9), std::uint8_t(0xC3));
        for (const QString& name : QDir(TX710_FIXTURES_DIR).entryList({QStringLiteral("*.hex")})) {
            const QByteArray frame = tx710test::hexFixture(name);
            QCOMPARE(frame.size(), 47);
            QVERIFY2(frameCrcMatches(dataOf(frame)), qPrintable(name));
            QCOMPARE(bytesOf(encodeFrame(decodeFrameFields(dataOf(frame))).data(), 47), frame);
        }
        const ScanFrameFields example = decodeFrameFields(dataOf(fixture("example_frame.hex")));
        QCOMPARE(example.speed, std::uint16_t(3600));
        QCOMPARE(example.start_angle, std::uint16_t(10000));
        QCOMPARE(example.end_angle, std::uint16_t(10400));
        QCOMPARE(example.points[11].distance, std::uint16_t(1000));
        QCOMPARE(example.points[11].intensity, std::uint8_t(200));
    }

    void verdictsAtEveryCut_data()
    {
        QTest::addColumn<QByteArray>("stream");
        QTest::addColumn<QByteArrayList>("events");
        const QByteArray one = fixture("example_frame.hex"), two = frameAt(1500), bad = one.left(46) + '\xCF';
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

    void decoderLogsRejectedFrames()
    {
        const SerialDataTestAccess::Decoder owner = SerialDataTestAccess::create();
        SerialData& decoder = *owner;
        const QByteArray bad = fixture("example_frame.hex").left(46) + '\0', next = frameAt(1500);
        tx710test::LogCapture log;
        decoder.findFrame(bad);
        decoder.findFrame(frameAt(1000).left(30) + next);
        const QStringList lines = log.lines(); // good frames are decoded without a log line
        QCOMPARE(lines.size(), 8);
        QVERIFY2(QRegularExpression('^' + tx710test::kLogStamp + '$').match(lines[0]).hasMatch(), qPrintable(lines[0]));
        auto quotedHex = [](const QByteArray& bytes) { return QString('"' + bytes.toHex().toUpper() + '"'); };
        QCOMPARE(lines.mid(1, 3), QStringList({quotedHex(bad), "frame find error", "error"}));
        QCOMPARE(lines.mid(6), QStringList({"frame find error", "++++ " + quotedHex(next.left(17))}));
        QCOMPARE(decoder.acceptedFrameCount(), std::uint64_t(1));
        QCOMPARE(decoder.rejectedFrameCount(), std::uint64_t(2));
    }

    void garbageStreamLogsAHundredFramesASecond()
    {
        const SerialDataTestAccess::Decoder owner = SerialDataTestAccess::create();
        SerialData& decoder = *owner;
        const QByteArray bad = fixture("example_frame.hex").left(46) + '\0';
        tx710test::LogCapture log;
        decoder.findFrame(bad.repeated(300));
        QCOMPARE(decoder.rejectedFrameCount(), std::uint64_t(300));
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
};

QTEST_GUILESS_MAIN(FrameFinderTest)
#include "tst_frame_finder.moc"

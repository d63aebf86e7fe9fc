// CRC-8, the frame layout and the frame finder: splits, corrupted frames, stray bytes, log lines.

#include <QRegularExpression>
#include <QtTest>

#include "SerialPort/serial_data.h"
#include "support/fixtures.h"

using namespace tx710;

QByteArray bytesOf(const std::uint8_t* data, std::size_t length) { return QByteArray((const char*)data, int(length)); }
const std::uint8_t* dataOf(const QByteArray& bytes) { return reinterpret_cast<const std::uint8_t*>(bytes.constData()); }
QByteArray fixture(const char* name) { return tx710test::hexFixture(QString::fromLatin1(name)); }

// Verdicts in order: "A" + frame, or "R" + frame + "K" + the bytes kept.
struct Collector : FrameConsumer {
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

// Bitwise CRC-8 (polynomial 0x4D), independent of the table-driven one.
std::uint8_t bitwiseCrc8(const QByteArray& bytes)
{
    std::uint8_t crc = 0;
    for (char c : bytes) {
        crc ^= std::uint8_t(c);
        for (int bit = 0; bit < 8; ++bit)
            crc = std::uint8_t((crc & 0x80) ? (crc << 1) ^ 0x4D : crc << 1);
    }
    return crc;
}

QStringList captured_lines;
void captureLine(QtMsgType, const QMessageLogContext&, const QString& line) { captured_lines << line; }

class FrameFinderTest : public QObject
{
    Q_OBJECT
private slots:
    void crcAndFixtures()
    {
        QCOMPARE(crc8(reinterpret_cast<const std::uint8_t*>("123456789"), 9), std::uint8_t(0xC3));
        for (int i = 0; i < 256; ++i)
            QCOMPARE(crc8Table()[std::size_t(i)], bitwiseCrc8(QByteArray(1, char(i))));
        for (const QString& name : QDir(TX710_FIXTURES_DIR).entryList({QStringLiteral("*.hex")})) {
            const QByteArray frame = tx710test::hexFixture(name);
            QVERIFY2(frame.size() == 47 && frameCrcMatches(dataOf(frame)), qPrintable(name));
            QCOMPARE(bitwiseCrc8(frame.left(46)), dataOf(frame)[46]);
            QCOMPARE(bytesOf(encodeFrame(decodeFrameFields(dataOf(frame))).data(), 47), frame);
        }
        const ScanFrameFields example = decodeFrameFields(dataOf(fixture("example_frame.hex")));
        QVERIFY(example.speed == 3600 && example.start_angle == 10000 && example.end_angle == 10400);
        QVERIFY(example.points[11].distance == 1000 && example.points[11].intensity == 200);
    }

    void verdictsAtEveryCut_data()
    {
        QTest::addColumn<QByteArray>("stream");
        QTest::addColumn<QByteArrayList>("events");
        const QByteArray one = fixture("example_frame.hex"), two = frameAt(1500), bad = one.left(46) + '\xCF';
        const QByteArray cut = frameAt(1000).left(20), lost_byte = frameAt(1000).remove(10, 1);
        const QByteArray pair = frameAt(1000, 0x2C54, 0x54); // distance stored as 54 2C
        QTest::newRow("two frames") << one + two << QByteArrayList{"A" + one, "A" + two};
        QTest::newRow("bad CRC, no header inside") << bad + two << QByteArrayList{"R" + bad + "K", "A" + two};
        // The 47 bytes collected hold the next frame's beginning, which is kept.
        QTest::newRow("bad CRC, next frame inside")
            << cut + two << QByteArrayList{"R" + cut + two.left(27) + "K" + two.left(27), "A" + two};
        // A frame that lost a byte ends on the next frame's 0x54.
        QTest::newRow("frame missing one byte")
            << lost_byte + two << QByteArrayList{"R" + lost_byte + two.left(1) + "K", "A" + two};
        // Opened mid-stream, noise between frames, a lone header at the end.
        QTest::newRow("stray bytes") << one.mid(13) + QByteArray("\x54\x54\x00\x2C\x2C\x54", 6) + one
                + QByteArray("\x00\xFF\x54", 3) + two + "\x2C\x54" << QByteArrayList{"A" + one, "A" + two};
        QTest::newRow("header pair in payload") << pair + pair << QByteArrayList{"A" + pair, "A" + pair};
        QTest::newRow("0x54 not followed by 0x2C") << "\x54\x10" + two.mid(1) + two << QByteArrayList{"A" + two};
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
            QVERIFY(finder.acceptedCount() + finder.rejectedCount() == quint64(events.size()) && !finder.inFrame());
        }
    }

    void decoderLogsRejectedFrames()
    {
        struct Decoder : SerialData {} decoder;
        const QByteArray bad = fixture("example_frame.hex").left(46) + '\0', next = frameAt(1500);
        const QtMessageHandler previous = qInstallMessageHandler(captureLine);
        decoder.findFrame(bad);
        decoder.findFrame(frameAt(1000).left(30) + next);
        decoder.findFrame(frameAt(2000).left(1)); // a read ending on a frame's 0x54
        decoder.findFrame(frameAt(2000).mid(1));
        qInstallMessageHandler(previous);
        // Good frames are decoded without a log line.
        QCOMPARE(captured_lines.size(), 8);
        const QRegularExpression stamp(QStringLiteral("^\"\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d:\\d{3}\"$"));
        QVERIFY2(stamp.match(captured_lines[0]).hasMatch(), qPrintable(captured_lines[0]));
        auto quotedHex = [](const QByteArray& bytes) { return QString('"' + bytes.toHex().toUpper() + '"'); };
        QCOMPARE(captured_lines.mid(1, 3), QStringList({quotedHex(bad), "frame find error", "error"}));
        QCOMPARE(captured_lines.mid(6), QStringList({"frame find error", "++++ " + quotedHex(next.left(17))}));
        QVERIFY(decoder.acceptedFrameCount() == 2 && decoder.rejectedFrameCount() == 2);
    }
};

QTEST_GUILESS_MAIN(FrameFinderTest)
#include "tst_frame_finder.moc"
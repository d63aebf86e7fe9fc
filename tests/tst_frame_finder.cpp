// Frame layout, CRC-8 and the frame finder: splits, corrupted frames,
// stray bytes and the decoder's log lines.

#include <QRegularExpression>
#include <QStringList>
#include <QtTest>

#include <random>

#include "SerialPort/frame_finder.h"
#include "SerialPort/frame_protocol.h"
#include "SerialPort/serial_data.h"
#include "support/fixtures.h"

using namespace tx710;

namespace {

// Collects what the finder reports.
struct CollectingConsumer : FrameConsumer {
    std::vector<QByteArray> accepted;
    std::vector<QByteArray> rejected;
    std::vector<QByteArray> kept;
    void frameAccepted(const std::uint8_t* frame) override
    {
        accepted.emplace_back(reinterpret_cast<const char*>(frame), int(kFrameLength));
    }
    void frameRejected(const std::uint8_t* frame, const std::uint8_t* kept_bytes, std::size_t kept_length) override
    {
        rejected.emplace_back(reinterpret_cast<const char*>(frame), int(kFrameLength));
        kept.push_back(kept_bytes ? QByteArray(reinterpret_cast<const char*>(kept_bytes), int(kept_length)) : QByteArray());
    }
};

void feed(FrameFinder& finder, const QByteArray& bytes)
{
    finder.feed(reinterpret_cast<const std::uint8_t*>(bytes.constData()), std::size_t(bytes.size()));
}

QByteArray bytesOf(const FrameBytes& frame)
{
    return QByteArray(reinterpret_cast<const char*>(frame.data()), int(frame.size()));
}

FrameBytes frameAt(std::uint16_t start, std::uint16_t distance = 1000, std::uint8_t intensity = 100)
{
    ScanFrameFields fields;
    fields.speed = 3600;
    fields.start_angle = start;
    fields.end_angle = static_cast<std::uint16_t>(start + 400);
    for (auto& point : fields.points)
        point = ScanPoint{distance, intensity};
    return encodeFrame(fields);
}

// Bitwise CRC-8, written independently of the table-driven one.
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

// Captures the debug lines written while it lives.
class LogCapture
{
public:
    LogCapture() { previous_ = qInstallMessageHandler(&LogCapture::handle); lines().clear(); }
    ~LogCapture() { qInstallMessageHandler(previous_); }
    static QStringList& lines() { static QStringList captured; return captured; }
private:
    static void handle(QtMsgType, const QMessageLogContext&, const QString& message) { lines() << message; }
    QtMessageHandler previous_;
};

class Decoder : public SerialData
{
public:
    using SerialData::finder_;
    using SerialData::last_frame_;
    using SerialData::round_points_;
};

} // namespace

class FrameFinderTest : public QObject
{
    Q_OBJECT
private slots:
    void crcCheckValues();
    void fixturesAreIntactFrames();
    void oneFrameInOneChunk();
    void splitAtEveryPosition();
    void byteByByteAndRandomChunks();
    void badCrcWithoutHeaderInside();
    void badCrcWithNextFrameInside();
    void frameMissingOneByte();
    void strayBytesAreDropped();
    void headerPairInsidePayload();
    void decoderLogsAndCounts();
    void decoderDecodesSplitFrames();
};

void FrameFinderTest::crcCheckValues()
{
    const QByteArray digits("123456789");
    const QByteArray abc("abc");
    QCOMPARE(crc8(reinterpret_cast<const std::uint8_t*>(digits.constData()), 9), std::uint8_t(0xC3));
    QCOMPARE(crc8(reinterpret_cast<const std::uint8_t*>(abc.constData()), 3), std::uint8_t(0x12));
    QCOMPARE(crc8Table()[1], std::uint8_t(0x4D));
    QCOMPARE(crc8Table()[128], std::uint8_t(0x7C));
    for (int i = 0; i < 256; ++i)
        QCOMPARE(crc8Table()[std::size_t(i)], bitwiseCrc8(QByteArray(1, char(i))));
}

void FrameFinderTest::fixturesAreIntactFrames()
{
    const QByteArray example = tx710test::hexFixture(QStringLiteral("example_frame.hex"));
    QCOMPARE(example.size(), 47);
    QCOMPARE(std::uint8_t(example.at(46)), std::uint8_t(0xCE));

    for (const char* name : {"example_frame.hex", "frame_crossing_359_3.hex", "frame_intensities.hex",
                             "frame_reserved_set.hex"}) {
        const QByteArray frame = tx710test::hexFixture(QString::fromLatin1(name));
        QCOMPARE(frame.size(), 47);
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(frame.constData());
        QVERIFY2(frameCrcMatches(bytes), name);
        QCOMPARE(bitwiseCrc8(frame.left(46)), bytes[46]);
        // Decoding and encoding again gives the same bytes.
        QCOMPARE(bytesOf(encodeFrame(decodeFrameFields(bytes))), frame);
    }

    const ScanFrameFields fields = decodeFrameFields(reinterpret_cast<const std::uint8_t*>(example.constData()));
    QCOMPARE(int(fields.speed), 3600);
    QCOMPARE(int(fields.start_angle), 10000);
    QCOMPARE(int(fields.end_angle), 10400);
    QCOMPARE(int(fields.points[11].distance), 1000);
    QCOMPARE(int(fields.points[11].intensity), 200);
    QCOMPARE(QString::fromStdString(toHex(reinterpret_cast<const std::uint8_t*>(example.constData()), 6)),
             QStringLiteral("542C100E1027"));
}

void FrameFinderTest::oneFrameInOneChunk()
{
    const QByteArray example = tx710test::hexFixture(QStringLiteral("example_frame.hex"));
    CollectingConsumer consumer;
    FrameFinder finder(&consumer);
    feed(finder, example);
    QCOMPARE(consumer.accepted.size(), std::size_t(1));
    QCOMPARE(consumer.accepted[0], example);
    QVERIFY(consumer.rejected.empty());
    QVERIFY(!finder.inFrame());
    QCOMPARE(finder.bufferedLength(), std::size_t(0));
}

void FrameFinderTest::splitAtEveryPosition()
{
    // Two frames back to back, split once at every position of the stream,
    // including between the 0x54 and the 0x2C of either frame.
    const QByteArray stream = bytesOf(frameAt(1000)) + bytesOf(frameAt(1500));
    for (int split = 0; split <= stream.size(); ++split) {
        CollectingConsumer consumer;
        FrameFinder finder(&consumer);
        feed(finder, stream.left(split));
        feed(finder, stream.mid(split));
        QVERIFY2(consumer.accepted.size() == 2, qPrintable(QStringLiteral("split at %1").arg(split)));
        QCOMPARE(consumer.accepted[0], stream.left(47));
        QCOMPARE(consumer.accepted[1], stream.mid(47));
        QVERIFY(consumer.rejected.empty());
    }
    // A chunk that ends with the header byte, then an empty read, then the rest.
    CollectingConsumer consumer;
    FrameFinder finder(&consumer);
    feed(finder, QByteArray("\x01\x02") + stream.left(1));
    QVERIFY(finder.headerPending());
    feed(finder, QByteArray());
    feed(finder, stream.mid(1));
    QCOMPARE(consumer.accepted.size(), std::size_t(2));
    // A carried 0x54 not followed by 0x2C starts nothing.
    feed(finder, QByteArray("\x54"));
    feed(finder, QByteArray("\x10") + stream.mid(1, 46));
    QCOMPARE(consumer.accepted.size(), std::size_t(2));
    QVERIFY(!finder.inFrame());
}

void FrameFinderTest::byteByByteAndRandomChunks()
{
    // A stream with good frames, corrupted frames, truncated frames and noise
    // gives the same verdicts however it is cut into reads.
    std::mt19937 random(7);
    QByteArray stream;
    for (int i = 0; i < 300; ++i) {
        QByteArray frame = bytesOf(frameAt(std::uint16_t(i * 120 % 36000), std::uint16_t(random() % 12000),
                                           std::uint8_t(random())));
        switch (random() % 6) {
        case 0: frame[int(random() % 47)] = char(frame[int(random() % 47)] ^ (1 + random() % 255)); break;
        case 1: frame.truncate(int(1 + random() % 46)); break;
        case 2: stream += QByteArray(int(random() % 5), char(0x54)) + "\x2C\x00"; break;
        default: break;
        }
        stream += frame;
    }
    CollectingConsumer whole;
    FrameFinder whole_finder(&whole);
    feed(whole_finder, stream);
    QVERIFY(whole.accepted.size() > 150);
    QVERIFY(!whole.rejected.empty());

    CollectingConsumer single;
    FrameFinder single_finder(&single);
    for (char byte : stream)
        feed(single_finder, QByteArray(1, byte));
    QVERIFY(single.accepted == whole.accepted);
    QVERIFY(single.rejected == whole.rejected);

    for (int round = 0; round < 20; ++round) {
        CollectingConsumer chunked;
        FrameFinder finder(&chunked);
        for (int at = 0; at < stream.size();) {
            const int size = int(random() % 100);
            feed(finder, stream.mid(at, size));
            at += size;
        }
        QVERIFY(chunked.accepted == whole.accepted);
        QVERIFY(chunked.rejected == whole.rejected);
        QCOMPARE(finder.acceptedCount(), std::uint64_t(whole.accepted.size()));
        QCOMPARE(finder.rejectedCount(), std::uint64_t(whole.rejected.size()));
    }
    for (const QByteArray& frame : whole.accepted)
        QVERIFY(frameCrcMatches(reinterpret_cast<const std::uint8_t*>(frame.constData())));
}

void FrameFinderTest::badCrcWithoutHeaderInside()
{
    QByteArray frame = tx710test::hexFixture(QStringLiteral("example_frame.hex"));
    frame[46] = char(0xCF);
    CollectingConsumer consumer;
    FrameFinder finder(&consumer);
    feed(finder, frame);
    QVERIFY(consumer.accepted.empty());
    QCOMPARE(consumer.rejected.size(), std::size_t(1));
    QCOMPARE(consumer.rejected[0], frame);
    QVERIFY(consumer.kept[0].isEmpty());
    QVERIFY(!finder.inFrame());
    QCOMPARE(finder.bufferedLength(), std::size_t(0));
    // The next good frame is found as usual.
    feed(finder, bytesOf(frameAt(2000)));
    QCOMPARE(consumer.accepted.size(), std::size_t(1));
}

void FrameFinderTest::badCrcWithNextFrameInside()
{
    // The first 20 bytes of a frame, then a whole frame: the 47 bytes collected
    // fail the CRC and hold the beginning of the next frame, which is kept.
    const QByteArray cut = bytesOf(frameAt(1000)).left(20);
    const QByteArray next = bytesOf(frameAt(1500));
    for (int split = 0; split <= 67; ++split) {
        const QByteArray stream = cut + next;
        CollectingConsumer consumer;
        FrameFinder finder(&consumer);
        feed(finder, stream.left(split));
        feed(finder, stream.mid(split));
        QCOMPARE(consumer.rejected.size(), std::size_t(1));
        QCOMPARE(consumer.rejected[0], cut + next.left(27));
        QCOMPARE(consumer.kept[0], next.left(27));
        QCOMPARE(consumer.accepted.size(), std::size_t(1));
        QCOMPARE(consumer.accepted[0], next);
    }
}

void FrameFinderTest::frameMissingOneByte()
{
    // A frame that lost one byte ends on the 0x54 of the next frame; that
    // frame is still found, whether or not a read ends right there.
    const QByteArray short_frame = bytesOf(frameAt(1000)).remove(10, 1);
    const QByteArray next = bytesOf(frameAt(1500));
    const QByteArray stream = short_frame + next;
    for (int split : {0, 46, 47, 48, int(stream.size())}) {
        CollectingConsumer consumer;
        FrameFinder finder(&consumer);
        feed(finder, stream.left(split));
        feed(finder, stream.mid(split));
        QCOMPARE(consumer.rejected.size(), std::size_t(1));
        QVERIFY(consumer.kept[0].isEmpty());
        QCOMPARE(consumer.accepted.size(), std::size_t(1));
        QCOMPARE(consumer.accepted[0], next);
    }
}

void FrameFinderTest::strayBytesAreDropped()
{
    const QByteArray first = bytesOf(frameAt(100));
    const QByteArray second = bytesOf(frameAt(600));
    // Starts in the middle of a frame, as when the port is opened mid-stream.
    const QByteArray stream = first.mid(13) + QByteArray("\x54\x54\x00\x2C\x2C\x54", 6) + first
        + QByteArray("\x00\xFF\x54", 3) + second + QByteArray("\x2C\x54", 2);
    CollectingConsumer consumer;
    FrameFinder finder(&consumer);
    feed(finder, stream);
    QCOMPARE(consumer.accepted.size(), std::size_t(2));
    QCOMPARE(consumer.accepted[0], first);
    QCOMPARE(consumer.accepted[1], second);
    QVERIFY(consumer.rejected.empty());
    QVERIFY(finder.headerPending());
}

void FrameFinderTest::headerPairInsidePayload()
{
    // Distance 0x2C54 is stored as 54 2C: a header-like pair inside the frame.
    const QByteArray frame = bytesOf(frameAt(1000, 0x2C54, 0x54));
    QVERIFY(frame.indexOf(QByteArray("\x54\x2C", 2), 1) > 0);
    for (int split = 0; split <= 47; ++split) {
        CollectingConsumer consumer;
        FrameFinder finder(&consumer);
        feed(finder, frame.left(split));
        feed(finder, frame.mid(split) + frame);
        QCOMPARE(consumer.accepted.size(), std::size_t(2));
        QCOMPARE(consumer.accepted[0], frame);
        QVERIFY(consumer.rejected.empty());
    }
}

void FrameFinderTest::decoderLogsAndCounts()
{
    Decoder decoder;
    QByteArray bad = tx710test::hexFixture(QStringLiteral("example_frame.hex"));
    bad[46] = char(0x00);
    {
        LogCapture capture;
        decoder.findFrame(bad);
        const QStringList lines = LogCapture::lines();
        QCOMPARE(lines.size(), 4);
        QVERIFY2(QRegularExpression(QStringLiteral("^\"\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d:\\d{3}\"$"))
                     .match(lines[0]).hasMatch(), qPrintable(lines[0]));
        QCOMPARE(lines[1], QLatin1Char('"') + QString::fromLatin1(bad.toHex().toUpper()) + QLatin1Char('"'));
        QCOMPARE(lines[2], QStringLiteral("frame find error"));
        QCOMPARE(lines[3], QStringLiteral("error"));
    }
    QVERIFY(decoder.round_points_.empty());

    const QByteArray cut = bytesOf(frameAt(1000)).left(30);
    const QByteArray next = bytesOf(frameAt(1500));
    {
        LogCapture capture;
        decoder.findFrame(cut + next);
        const QStringList lines = LogCapture::lines();
        QCOMPARE(lines.size(), 4);
        QCOMPARE(lines[2], QStringLiteral("frame find error"));
        QCOMPARE(lines[3], QStringLiteral("++++ \"") + QString::fromLatin1(next.left(17).toHex().toUpper())
                               + QLatin1Char('"'));
    }
    QCOMPARE(decoder.acceptedFrameCount(), std::uint64_t(1));
    QCOMPARE(decoder.rejectedFrameCount(), std::uint64_t(2));
    QCOMPARE(decoder.last_frame_, next);
    QCOMPARE(decoder.round_points_.size(), std::size_t(12));

    // Good frames write no log line.
    LogCapture capture;
    decoder.findFrame(bytesOf(frameAt(2000)) + bytesOf(frameAt(2500)));
    QVERIFY(LogCapture::lines().isEmpty());
    QCOMPARE(decoder.acceptedFrameCount(), std::uint64_t(3));
}

void FrameFinderTest::decoderDecodesSplitFrames()
{
    // Through the decoder's own entry: every split of the example frame is decoded once.
    const QByteArray example = tx710test::hexFixture(QStringLiteral("example_frame.hex"));
    for (int split = 0; split <= 47; ++split) {
        Decoder decoder;
        decoder.findFrame(example.left(split));
        decoder.findFrame(example.mid(split));
        QCOMPARE(decoder.acceptedFrameCount(), std::uint64_t(1));
        QCOMPARE(decoder.last_frame_, example);
        QCOMPARE(decoder.round_points_.size(), std::size_t(12));
        QVERIFY(!decoder.finder_.inFrame());
    }
}

QTEST_GUILESS_MAIN(FrameFinderTest)
#include "tst_frame_finder.moc"

// Recording: collection of whole revolutions, the data writer thread, the
// data file and the progress reports.

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryFile>
#include <QtTest>

#include <chrono>
#include <cmath>
#include <mutex>
#include <thread>

#include "SerialPort/frame_protocol.h"
#include "SerialPort/serial_data.h"

using namespace tx710;

namespace {

struct Progress {
    bool ok;
    int value;
    bool running_at_report;
};

class Recorder : public SerialData
{
public:
    using SerialData::file_name_;
    using SerialData::record_request_;
    using SerialData::recorded_rounds_;
    using SerialData::recording_;
    using SerialData::round_record_;

    Recorder()
    {
        setSaveProgressCallback([this](bool ok, int value) {
            std::lock_guard<std::mutex> lock(reports_mutex_);
            reports_.push_back(Progress{ok, value, saveRunning()});
        });
    }
    std::vector<Progress> reports()
    {
        std::lock_guard<std::mutex> lock(reports_mutex_);
        return reports_;
    }
    // Waits for the writer's final report (true, 100) after `after` reports.
    bool waitForWriterEnd(std::size_t after = 0)
    {
        for (int waited = 0; waited < 20000; waited += 5) {
            const std::vector<Progress> seen = reports();
            for (std::size_t i = after; i < seen.size(); ++i)
                if (seen[i].ok && seen[i].value == 100 && !seen[i].running_at_report)
                    return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return false;
    }

    QString directory_override_;

protected:
    QString dataDirectoryPath() const override
    {
        return directory_override_.isEmpty() ? SerialData::dataDirectoryPath() : directory_override_;
    }

private:
    std::mutex reports_mutex_;
    std::vector<Progress> reports_;
};

// A point as sent, with the revolution it belongs to.
struct SentPoint {
    int revolution;
    double angle;
    int distance;
    int intensity;
};

// A turning head: frames of twelve points `step` hundredths of a degree
// apart, continuing around the circle. Every seventh point has no return.
class Head
{
public:
    Head(int step, int first_angle) : step_(step), position_(first_angle) {}

    QByteArray frames(int count)
    {
        QByteArray bytes;
        for (int k = 0; k < count; ++k) {
            ScanFrameFields fields;
            fields.speed = 3600;
            fields.start_angle = std::uint16_t(position_ % 36000);
            fields.end_angle = std::uint16_t((position_ + 11 * step_) % 36000);
            for (int i = 0; i < kPointsPerFrame; ++i) {
                const long at = position_ + long(i) * step_;
                const int distance = serial_ % 7 == 3 ? 0 : 200 + serial_ % 9000;
                const int intensity = serial_ % 256;
                fields.points[std::size_t(i)] = ScanPoint{std::uint16_t(distance), std::uint8_t(intensity)};
                sent_.push_back(SentPoint{int(at / 36000), (at % 36000) / 100.0, distance, intensity});
                ++serial_;
            }
            const FrameBytes frame = encodeFrame(fields);
            bytes.append(reinterpret_cast<const char*>(frame.data()), int(frame.size()));
            position_ += 12L * step_;
        }
        return bytes;
    }
    // Frames up to and including the first one with a point of `revolution`.
    QByteArray framesUntilRevolution(int revolution)
    {
        QByteArray bytes;
        while (!nextFrameReaches(revolution))
            bytes += frames(1);
        return bytes + frames(1);
    }
    bool nextFrameReaches(int revolution) const { return (position_ + 11L * step_) / 36000 >= revolution; }
    int revolution() const { return int(position_ / 36000); }
    const std::vector<SentPoint>& sent() const { return sent_; }

private:
    int step_;
    long position_;
    int serial_ = 0;
    std::vector<SentPoint> sent_;
};

void feedInReads(SerialData& decoder, const QByteArray& bytes, int read_size = 93)
{
    for (int at = 0; at < bytes.size(); at += read_size)
        decoder.findFrame(bytes.mid(at, read_size));
}

struct FileLine {
    int round;
    double angle;
    int distance;
    int intensity;
};

// Reads a data file; every line after a header line must have the exact format.
bool readDataFile(const QString& path, QStringList& headers_at, std::vector<FileLine>& lines)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray text = file.readAll();
    if (!text.endsWith('\n') || text.contains('\r'))
        return false;
    const QRegularExpression format(QStringLiteral("^(\\d+) (\\d+\\.\\d{3}) (\\d+) (\\d+)$"));
    int number = 0;
    for (const QByteArray& raw : text.left(text.size() - 1).split('\n')) {
        const QString line = QString::fromLatin1(raw);
        if (line == QLatin1String("Round angle distance intensity")) {
            headers_at << QString::number(number);
            continue;
        }
        const QRegularExpressionMatch match = format.match(line);
        if (!match.hasMatch()) {
            qWarning("bad line %d: %s", number, qPrintable(line));
            return false;
        }
        lines.push_back(FileLine{match.captured(1).toInt(), match.captured(2).toDouble(), match.captured(3).toInt(),
                                 match.captured(4).toInt()});
        ++number;
    }
    return true;
}

} // namespace

class RecordingTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanup();
    void cleanupTestCase();

    void recordingStartsAtRevolutionStart();
    void hundredRoundsWritten();
    void crossingBetweenFrames();
    void cancelMidway();
    void secondSaveRefusedWhileWriterRuns();
    void dataFolderCannotBeCreated();
    void savesInOneSecondShareFile();
    void fileCannotBeOpened();

private:
    void removeLater(const QString& path);

    QString data_dir_;
    bool data_dir_existed_ = false;
    QStringList written_;
};

void RecordingTest::initTestCase()
{
    data_dir_ = QCoreApplication::applicationDirPath() + QStringLiteral("/data");
    data_dir_existed_ = QDir(data_dir_).exists();
}

void RecordingTest::removeLater(const QString& path)
{
    if (!path.isEmpty() && !written_.contains(path))
        written_ << path;
}

void RecordingTest::cleanup()
{
    for (const QString& path : written_)
        QFile::remove(path);
    written_.clear();
}

void RecordingTest::cleanupTestCase()
{
    if (!data_dir_existed_)
        QDir().rmdir(data_dir_); // only when empty
}

void RecordingTest::recordingStartsAtRevolutionStart()
{
    Recorder recorder;
    Head head(80, 40);
    feedInReads(recorder, head.frames(10));
    recorder.startSaveData();
    removeLater(recorder.file_name_);
    QVERIFY(recorder.saveRunning());
    QVERIFY(recorder.record_request_);
    // Nothing is collected for the rest of revolution 0.
    while (!head.nextFrameReaches(1)) {
        feedInReads(recorder, head.frames(1));
        QVERIFY(recorder.record_request_);
        QVERIFY(!recorder.recording_);
        QVERIFY(recorder.round_record_.empty());
    }
    // The frame that crosses 0 degrees starts the collection at its first
    // point past 0; points before it are not recorded.
    feedInReads(recorder, head.frames(1));
    QVERIFY(recorder.recording_);
    QVERIFY(!recorder.record_request_);
    QVERIFY(!recorder.round_record_.empty());
    QVERIFY(recorder.round_record_.size() < 12);
    QVERIFY(recorder.round_record_.front().angle < 0.8f);
    for (const PointRecord& point : recorder.round_record_)
        QVERIFY(point.angle < 10.0f);
    recorder.stopSaveData();
    QVERIFY(recorder.waitForWriterEnd());
}

void RecordingTest::hundredRoundsWritten()
{
    // 0.8 degree apart: 37.5 frames per revolution, so the 0-degree crossing
    // falls inside a frame and between two frames in turn.
    Recorder recorder;
    Head head(80, 40);
    feedInReads(recorder, head.frames(20));
    recorder.startSaveData();
    const QString path = recorder.file_name_;
    removeLater(path);
    QVERIFY(path.startsWith(data_dir_ + QLatin1Char('/')));
    QVERIFY(QRegularExpression(QStringLiteral("/\\d{4}_\\d\\d_\\d\\d_\\d\\d_\\d\\d_\\d\\d\\.txt$")).match(path).hasMatch());
    feedInReads(recorder, head.framesUntilRevolution(101), 4096);
    QVERIFY(!recorder.recording_);
    QCOMPARE(recorder.recorded_rounds_, 100);
    QVERIFY(recorder.waitForWriterEnd());

    const std::vector<Progress> reports = recorder.reports();
    QCOMPARE(reports.size(), std::size_t(101));
    for (int i = 0; i < 100; ++i) {
        QVERIFY(reports[std::size_t(i)].ok);
        QCOMPARE(reports[std::size_t(i)].value, i + 1);
    }
    QVERIFY(reports[100].ok);
    QCOMPARE(reports[100].value, 100);

    QStringList headers;
    std::vector<FileLine> lines;
    QVERIFY(readDataFile(path, headers, lines));
    QCOMPARE(headers, QStringList{QStringLiteral("0")});
    // Round n holds exactly the points of revolution n, in the order sent,
    // those without a return included.
    std::vector<SentPoint> expected;
    for (const SentPoint& point : head.sent())
        if (point.revolution >= 1 && point.revolution <= 100)
            expected.push_back(point);
    QCOMPARE(lines.size(), expected.size());
    for (std::size_t i = 0; i < lines.size(); ++i) {
        QCOMPARE(lines[i].round, expected[i].revolution);
        QVERIFY2(std::fabs(lines[i].angle - expected[i].angle) < 0.0015,
                 qPrintable(QStringLiteral("%1 vs %2").arg(lines[i].angle).arg(expected[i].angle)));
        QCOMPARE(lines[i].distance, expected[i].distance);
        QCOMPARE(lines[i].intensity, expected[i].intensity);
    }
    QCOMPARE(lines.front().round, 1);
    QCOMPARE(lines.back().round, 100);
}

void RecordingTest::crossingBetweenFrames()
{
    // 1 degree apart, 30 frames per revolution: every crossing falls between
    // two frames, and every recorded round is still one revolution.
    Recorder recorder;
    Head head(100, 50);
    feedInReads(recorder, head.frames(7));
    recorder.startSaveData();
    removeLater(recorder.file_name_);
    feedInReads(recorder, head.framesUntilRevolution(5));
    feedInReads(recorder, head.frames(3));
    recorder.stopSaveData();
    QVERIFY(recorder.waitForWriterEnd());
    QStringList headers;
    std::vector<FileLine> lines;
    QVERIFY(readDataFile(recorder.file_name_, headers, lines));
    QCOMPARE(lines.size(), std::size_t(4 * 360));
    for (std::size_t i = 0; i < lines.size(); ++i) {
        QCOMPARE(lines[i].round, int(i / 360) + 1);
        QVERIFY(std::fabs(lines[i].angle - (0.5 + double(i % 360))) < 0.0015);
    }
    // The next save may fall into the same second and would append to this file.
    QVERIFY(QFile::remove(recorder.file_name_));

    // A point computed at 361.5 degrees opens the next round as 1.500.
    Recorder single;
    single.startSaveData();
    removeLater(single.file_name_);
    ScanFrameFields fields;
    fields.speed = 3600;
    for (auto& point : fields.points)
        point = ScanPoint{1520, 200};
    auto parse = [&single, &fields](std::uint16_t start, std::uint16_t end) {
        fields.start_angle = start;
        fields.end_angle = end;
        const FrameBytes frame = encodeFrame(fields);
        single.parseFrame(QByteArray(reinterpret_cast<const char*>(frame.data()), 47));
    };
    parse(35000, 35440);
    parse(34490, 150); // 344.9 to 1.5: the last point only is past 360
    QCOMPARE(single.round_record_.size(), std::size_t(1));
    QVERIFY(std::fabs(single.round_record_.front().angle - 1.5f) < 1e-3f);
    parse(190, 630);
    parse(35000, 35440);
    parse(34490, 150);
    single.stopSaveData();
    QVERIFY(single.waitForWriterEnd());
    QFile file(single.file_name_);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QList<QByteArray> text = file.readAll().split('\n');
    QCOMPARE(text.at(0), QByteArray("Round angle distance intensity"));
    QCOMPARE(text.at(1), QByteArray("1 1.500 1520 200"));
    QCOMPARE(text.size(), 1 + 1 + 12 + 12 + 11 + 1);
}

void RecordingTest::cancelMidway()
{
    Recorder recorder;
    Head head(80, 40);
    feedInReads(recorder, head.frames(3));
    recorder.startSaveData();
    removeLater(recorder.file_name_);
    feedInReads(recorder, head.framesUntilRevolution(41));
    QCOMPARE(recorder.recorded_rounds_, 40);
    recorder.stopSaveData();
    QVERIFY(!recorder.recording_);
    feedInReads(recorder, head.framesUntilRevolution(60));
    QCOMPARE(recorder.recorded_rounds_, 40);
    QVERIFY(recorder.waitForWriterEnd());

    const std::vector<Progress> reports = recorder.reports();
    QCOMPARE(reports.size(), std::size_t(41));
    for (int i = 0; i < 40; ++i)
        QCOMPARE(reports[std::size_t(i)].value, i + 1);
    QCOMPARE(reports.back().value, 100);
    QStringList headers;
    std::vector<FileLine> lines;
    QVERIFY(readDataFile(recorder.file_name_, headers, lines));
    QCOMPARE(headers.size(), 1);
    QCOMPARE(lines.back().round, 40);

    // Cancelled before any round was collected: nothing is written, the
    // writer still ends with (true, 100), and later rounds are not recorded.
    Recorder waiting;
    waiting.startSaveData();
    removeLater(waiting.file_name_);
    // Within the same second the earlier file is reused; it must not grow.
    const qint64 size_before = QFileInfo(waiting.file_name_).size();
    waiting.stopSaveData();
    QVERIFY(!waiting.record_request_);
    Head other(80, 40);
    feedInReads(waiting, other.framesUntilRevolution(3));
    QVERIFY(waiting.round_record_.empty());
    QVERIFY(waiting.waitForWriterEnd());
    QCOMPARE(waiting.reports().size(), std::size_t(1));
    QCOMPARE(QFileInfo(waiting.file_name_).size(), size_before);
}

void RecordingTest::secondSaveRefusedWhileWriterRuns()
{
    Recorder recorder;
    Head head(80, 40);
    recorder.startSaveData();
    const QString path = recorder.file_name_;
    removeLater(path);
    feedInReads(recorder, head.framesUntilRevolution(4));
    {
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QStringLiteral("^\\[ \".*\" \\] startSaveData")));
        recorder.startSaveData();
    }
    QCOMPARE(recorder.reports().front().ok, false);
    QCOMPARE(recorder.reports().front().value, 0);
    // The running save goes on undisturbed.
    QVERIFY(recorder.recording_);
    QCOMPARE(recorder.recorded_rounds_, 3);
    feedInReads(recorder, head.framesUntilRevolution(103));
    QCOMPARE(recorder.recorded_rounds_, 100);
    QVERIFY(recorder.waitForWriterEnd());
    std::vector<Progress> reports = recorder.reports();
    QCOMPARE(reports.size(), std::size_t(1 + 101));
    for (int i = 1; i <= 100; ++i)
        QCOMPARE(reports[std::size_t(i)].value, i);
    // The writer was no longer counted as running at its final report, so
    // the next save starts right away.
    QVERIFY(!reports.back().running_at_report);
    recorder.startSaveData();
    removeLater(recorder.file_name_);
    QVERIFY(recorder.saveRunning());
    QVERIFY(recorder.record_request_);
    QCOMPARE(recorder.reports().size(), std::size_t(102));
    recorder.stopSaveData();
    QVERIFY(recorder.waitForWriterEnd(102));

    QStringList headers;
    std::vector<FileLine> lines;
    QVERIFY(readDataFile(path, headers, lines));
    int round = 1;
    for (const FileLine& line : lines) {
        QVERIFY(line.round == round || line.round == round + 1);
        round = line.round;
    }
    QCOMPARE(round, 100);
}

void RecordingTest::dataFolderCannotBeCreated()
{
    QTemporaryFile blocker;
    QVERIFY(blocker.open());
    Recorder recorder;
    recorder.directory_override_ = blocker.fileName() + QStringLiteral("/data");
    QTest::ignoreMessage(QtDebugMsg,
                         QRegularExpression(QStringLiteral("^\\[ SerialPort/serial_data\\.cpp : \\d+ : createSaveFile \".*\" \\] "
                                                           "data path create error: \".*/data\"$")));
    recorder.startSaveData();
    QVERIFY(!recorder.saveRunning());
    QVERIFY(!recorder.record_request_);
    QVERIFY(recorder.file_name_.isEmpty());
    const std::vector<Progress> reports = recorder.reports();
    QCOMPARE(reports.size(), std::size_t(1));
    QVERIFY(!reports[0].ok);
    QCOMPARE(reports[0].value, 0);
    // Nothing is collected afterwards.
    Head head(80, 40);
    feedInReads(recorder, head.framesUntilRevolution(3));
    QVERIFY(!recorder.recording_);
    QVERIFY(recorder.round_record_.empty());
    QCOMPARE(recorder.recorded_rounds_, 0);
    // Once the folder can be made, saving works again.
    recorder.directory_override_.clear();
    recorder.startSaveData();
    removeLater(recorder.file_name_);
    QVERIFY(recorder.saveRunning());
    recorder.stopSaveData();
    QVERIFY(recorder.waitForWriterEnd());
}

void RecordingTest::savesInOneSecondShareFile()
{
    // Start early in a second so that both saves fall into it.
    while (QTime::currentTime().msec() > 200)
        QTest::qSleep(5);
    Recorder recorder;
    Head head(80, 40);
    for (int save = 0; save < 2; ++save) {
        const std::size_t before = recorder.reports().size();
        recorder.startSaveData();
        removeLater(recorder.file_name_);
        feedInReads(recorder, head.framesUntilRevolution(head.revolution() + 3));
        // Collection ends before the writer has written anything: the
        // save's header still comes first.
        recorder.stopSaveData();
        QVERIFY(recorder.waitForWriterEnd(before));
    }
    QCOMPARE(written_.size(), 1);
    QStringList headers;
    std::vector<FileLine> lines;
    QVERIFY(readDataFile(written_.front(), headers, lines));
    QCOMPARE(headers.size(), 2);
    QCOMPARE(headers.at(0), QStringLiteral("0"));
    const int second_start = headers.at(1).toInt();
    QVERIFY(second_start > 0);
    QCOMPARE(lines.front().round, 1);
    QCOMPARE(lines[std::size_t(second_start) - 1].round, 2);
    QCOMPARE(lines[std::size_t(second_start)].round, 1);
    QCOMPARE(lines.back().round, 2);
}

namespace {
// Log lines written by any thread while it lives.
class ThreadSafeLogCapture
{
public:
    ThreadSafeLogCapture() { previous_ = qInstallMessageHandler(&ThreadSafeLogCapture::handle); }
    ~ThreadSafeLogCapture() { qInstallMessageHandler(previous_); }
    static QStringList lines()
    {
        std::lock_guard<std::mutex> lock(mutex());
        return captured();
    }
private:
    static void handle(QtMsgType, const QMessageLogContext&, const QString& message)
    {
        std::lock_guard<std::mutex> lock(mutex());
        captured() << message;
    }
    static std::mutex& mutex() { static std::mutex instance; return instance; }
    static QStringList& captured() { static QStringList instance; return instance; }
    QtMessageHandler previous_;
};
} // namespace

void RecordingTest::fileCannotBeOpened()
{
    // A folder in the data file's place: every round is dropped with a log
    // line, yet counted and reported.
    ThreadSafeLogCapture capture;
    Recorder recorder;
    Head head(80, 40);
    recorder.startSaveData();
    QVERIFY(QDir().mkdir(recorder.file_name_));
    feedInReads(recorder, head.framesUntilRevolution(3));
    QCOMPARE(recorder.recorded_rounds_, 2);
    recorder.stopSaveData();
    const bool ended = recorder.waitForWriterEnd();
    QDir().rmdir(recorder.file_name_);
    QVERIFY(ended);
    const std::vector<Progress> reports = recorder.reports();
    QCOMPARE(reports.size(), std::size_t(3));
    QCOMPARE(reports[0].value, 1);
    QCOMPARE(reports[1].value, 2);
    QCOMPARE(reports[2].value, 100);
    const QStringList failures = ThreadSafeLogCapture::lines().filter(
        QRegularExpression(QStringLiteral("^\\[ \".*\" \\] file_name_ \"") + QRegularExpression::escape(recorder.file_name_)
                           + QStringLiteral("\"$")));
    QCOMPARE(failures.size(), 2);
}

QTEST_GUILESS_MAIN(RecordingTest)
#include "tst_recording.moc"

// Recording: collection of whole revolutions, the data writer thread, the
// data file and the progress reports.

#include <QCoreApplication>
#include <QTemporaryFile>
#include <QtTest>

#include <mutex>

#include "SerialPort/frame_protocol.h"
#include "SerialPort/serial_data.h"

using namespace tx710;

namespace {

class Recorder : public SerialData
{
public:
    using SerialData::file_name_;
    using SerialData::recorded_rounds_;
    using SerialData::recording_;
    using SerialData::round_record_;

    // Progress reports as "1" .. "100", or "failed 0"; the writer reports from its thread.
    Recorder()
    {
        setSaveProgressCallback([this](bool ok, int value) {
            std::lock_guard<std::mutex> lock(reports_mutex_);
            reports_ << (ok ? QString::number(value) : QStringLiteral("failed %1").arg(value));
        });
    }
    QStringList reports()
    {
        std::lock_guard<std::mutex> lock(reports_mutex_);
        return reports_;
    }
    void feed(const QByteArray& bytes, int read_size = 93)
    {
        for (int at = 0; at < bytes.size(); at += read_size)
            findFrame(bytes.mid(at, read_size));
    }
    QString directory_;

protected:
    QString dataDirectoryPath() const override { return directory_.isEmpty() ? SerialData::dataDirectoryPath() : directory_; }

private:
    std::mutex reports_mutex_;
    QStringList reports_;
};

// The reports of a save of `rounds` rounds: 1 to `rounds`, then the final 100.
QStringList progress(int rounds)
{
    QStringList reports;
    for (int round = 1; round <= rounds; ++round)
        reports << QString::number(round);
    return reports << QStringLiteral("100");
}

// A head turning `step` hundredths of a degree per point, twelve points a
// frame; point n lies at first + n * step on the unwound circle. Every
// seventh point has no return.
struct Head {
    long step;
    long first;
    long sent = 0;
    long position(long n) const { return first + n * step; }
    int distance(long n) const { return n % 7 == 3 ? 0 : 200 + int(n % 9000); }

    // Frames up to and including the first one with a point of `revolution`.
    QByteArray until(long revolution)
    {
        QByteArray bytes;
        do {
            ScanFrameFields fields;
            fields.speed = 3600;
            fields.start_angle = std::uint16_t(position(sent) % 36000);
            fields.end_angle = std::uint16_t(position(sent + 11) % 36000);
            for (ScanPoint& point : fields.points) {
                point = ScanPoint{std::uint16_t(distance(sent)), std::uint8_t(sent % 256)};
                ++sent;
            }
            const FrameBytes frame = encodeFrame(fields);
            bytes.append(reinterpret_cast<const char*>(frame.data()), 47);
        } while (position(sent - 1) / 36000 < revolution);
        return bytes;
    }
    // What one save of revolutions first to last writes, numbered from 1.
    QStringList lines(long first_revolution, long last_revolution) const
    {
        QStringList lines{QStringLiteral("Round angle distance intensity")};
        for (long n = 0; n < sent; ++n) {
            const long revolution = position(n) / 36000;
            if (revolution >= first_revolution && revolution <= last_revolution)
                lines << QStringLiteral("%1 %2 %3 %4").arg(revolution - first_revolution + 1)
                             .arg(double(position(n) % 36000) / 100.0, 0, 'f', 3).arg(distance(n)).arg(n % 256);
        }
        return lines;
    }
};

QStringList fileLines(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromLatin1(file.readAll()).split(QLatin1Char('\n'))
                                          : QStringList{QStringLiteral("cannot read ") + path};
}

} // namespace

class RecordingTest : public QObject
{
    Q_OBJECT
private slots:
    void cleanup();
    void cleanupTestCase();
    void hundredRoundsOfOneRevolution();
    void cancelMidway();
    void secondSaveRefusedWhileWriterRuns();
    void savesInOneSecondShareFile();
    void dataFolderOrFileUnusable();

private:
    void start(Recorder& recorder)
    {
        recorder.startSaveData();
        written_ << recorder.file_name_;
    }
    const QString data_dir_ = QCoreApplication::applicationDirPath() + QStringLiteral("/data");
    const bool data_dir_existed_ = QDir(data_dir_).exists();
    QStringList written_;
};

void RecordingTest::cleanup()
{
    for (const QString& path : written_)
        QFile::remove(path) || QDir().rmdir(path);
    written_.clear();
}

void RecordingTest::cleanupTestCase()
{
    if (!data_dir_existed_)
        QDir().rmdir(data_dir_);
}

void RecordingTest::hundredRoundsOfOneRevolution()
{
    // 0.8 degree apart, 37.5 frames a revolution: the 0-degree crossing falls
    // inside a frame and between two frames in turn. Starts at 200 degrees.
    Recorder recorder;
    Head head{80, 20040};
    start(recorder);
    QVERIFY(QRegularExpression(QRegularExpression::escape(data_dir_) + QStringLiteral("/\\d{4}(_\\d\\d){5}\\.txt$"))
                .match(recorder.file_name_).hasMatch());
    // Collection begins only where the revolution under way ends.
    const QByteArray rest = head.until(1);
    recorder.feed(rest.chopped(47));
    QVERIFY(!recorder.recording_ && recorder.round_record_.empty());
    recorder.feed(rest.right(47));
    QVERIFY(recorder.recording_);
    recorder.feed(head.until(101), 4096);
    QVERIFY(!recorder.recording_);
    QCOMPARE(recorder.recorded_rounds_, 100);
    QTRY_COMPARE_WITH_TIMEOUT(recorder.reports(), progress(100), 60000);
    QCOMPARE(fileLines(recorder.file_name_), head.lines(1, 100) << QString());
}

void RecordingTest::cancelMidway()
{
    Recorder recorder;
    Head head{80, 40};
    start(recorder);
    recorder.feed(head.until(41));
    recorder.stopSaveData();
    recorder.feed(head.until(60));
    QCOMPARE(recorder.recorded_rounds_, 40);
    QTRY_COMPARE_WITH_TIMEOUT(recorder.reports(), progress(40), 60000);
    QCOMPARE(fileLines(recorder.file_name_), head.lines(1, 40) << QString());

    // Cancelled before any round: nothing collected or written (within the
    // same second the file above is reused), and the writer still ends.
    Recorder waiting;
    start(waiting);
    const qint64 size = QFileInfo(waiting.file_name_).size();
    waiting.stopSaveData();
    waiting.feed(Head{80, 40}.until(3));
    QVERIFY(waiting.round_record_.empty());
    QTRY_COMPARE_WITH_TIMEOUT(waiting.reports(), QStringList{QStringLiteral("100")}, 60000);
    QCOMPARE(QFileInfo(waiting.file_name_).size(), size);
}

void RecordingTest::secondSaveRefusedWhileWriterRuns()
{
    Recorder recorder;
    Head head{80, 40};
    start(recorder);
    const QString path = recorder.file_name_;
    recorder.feed(head.until(4));
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QStringLiteral("^\\[ \".*\" \\] startSaveData")));
    start(recorder);
    QCOMPARE(recorder.reports(), QStringList{QStringLiteral("failed 0")});
    // The running save goes on undisturbed.
    recorder.feed(head.until(103));
    QTRY_COMPARE_WITH_TIMEOUT(recorder.reports(), QStringList{QStringLiteral("failed 0")} + progress(100), 60000);
    QCOMPARE(fileLines(path), head.lines(1, 100) << QString());
    // The writer stopped counting as running before its final report.
    start(recorder);
    QVERIFY(recorder.saveRunning());
    recorder.stopSaveData();
    QTRY_COMPARE_WITH_TIMEOUT(recorder.reports().size(), 1 + 101 + 1, 60000);
}

void RecordingTest::savesInOneSecondShareFile()
{
    while (QTime::currentTime().msec() > 200) // both saves within one second
        QTest::qSleep(5);
    Recorder recorder;
    Head head{80, 40};
    for (int save = 1; save <= 2; ++save) {
        start(recorder);
        // Collection ends before the writer has written anything: the
        // save's header still comes first.
        recorder.feed(head.until(3 * save));
        recorder.stopSaveData();
        QTRY_COMPARE_WITH_TIMEOUT(recorder.reports().size(), 3 * save, 60000);
    }
    QCOMPARE(written_.first(), written_.last());
    QCOMPARE(fileLines(recorder.file_name_), head.lines(1, 2) + head.lines(4, 5) << QString());
}

void RecordingTest::dataFolderOrFileUnusable()
{
    // No folder can be made: no writer, (false, 0), nothing collected.
    QTemporaryFile blocker;
    QVERIFY(blocker.open());
    Recorder recorder;
    recorder.directory_ = blocker.fileName() + QStringLiteral("/data");
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QStringLiteral(
        "^\\[ SerialPort/serial_data\\.cpp : \\d+ : createSaveFile \".*\" \\] data path create error: \".*/data\"$")));
    recorder.startSaveData();
    QVERIFY(!recorder.saveRunning() && recorder.file_name_.isEmpty());
    QCOMPARE(recorder.reports(), QStringList{QStringLiteral("failed 0")});
    recorder.feed(Head{80, 40}.until(3));
    QVERIFY(!recorder.recording_ && recorder.round_record_.empty());

    // A folder in the data file's place: each round is dropped with a log
    // line, yet counted and reported.
    recorder.directory_.clear();
    start(recorder);
    QVERIFY(QDir().mkdir(recorder.file_name_));
    const QString failed = QStringLiteral("file_name_ \"%1\"$").arg(QRegularExpression::escape(recorder.file_name_));
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression(failed));
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression(failed));
    recorder.feed(Head{80, 40}.until(3));
    recorder.stopSaveData();
    QTRY_COMPARE_WITH_TIMEOUT(recorder.reports(), QStringList{QStringLiteral("failed 0")} + progress(2), 60000);
}

QTEST_GUILESS_MAIN(RecordingTest)
#include "tst_recording.moc"
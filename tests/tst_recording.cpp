// Recording: whole revolutions collected, the data writer thread, the data file, progress reports.

#include <QtTest>

#include <mutex>

#include "SerialPort/serial_data.h"

using namespace tx710;

struct Recorder : SerialData {
    using SerialData::data_directory_override_, SerialData::file_name_, SerialData::recording_,
        SerialData::round_record_;
    QTemporaryDir temporary_;
    QString directory_ = temporary_.path() + QStringLiteral("/data");
    std::mutex reports_mutex_;
    std::string reports_; // the writer reports from its thread; no Qt sharing across

    Recorder()
    {
        data_directory_override_ = directory_;
        setSaveProgressCallback([this](bool ok, int value) {
            std::lock_guard<std::mutex> lock(reports_mutex_);
            reports_ += (ok ? "" : "failed ") + std::to_string(value) + (ok && !saveRunning() ? " idle " : " ");
        });
    }
    ~Recorder() override
    {
        stopSaveData(); // the writer reports to members gone before the decoder's own wait
        if (writer_finished_.valid())
            writer_finished_.wait();
    }
    QString reports() // "1 2 .. 100 idle ": "idle" once the writer no longer counts as running
    {
        std::lock_guard<std::mutex> lock(reports_mutex_);
        return QString::fromStdString(reports_);
    }
    void feed(const QByteArray& bytes, int read_size = 93)
    {
        for (int at = 0; at < bytes.size(); at += read_size)
            findFrame(bytes.mid(at, read_size));
    }
};

QString progress(int rounds) // of a save of `rounds` rounds: 1 to `rounds`, then the writer's last
{
    QString reports;
    for (int round = 1; round <= rounds; ++round)
        reports += QString::number(round) + ' ';
    return reports + QStringLiteral("100 idle ");
}

// A head turning `step` hundredths of a degree per point, twelve points a frame at 3600;
// point n lies at first + n * step on the unwound circle. Every seventh point has no return.
struct Head {
    long step, first, sent = 0;
    long position(long n) const { return first + n * step; }
    std::uint16_t angle(long n) const { return std::uint16_t(position(n) % 36000); }
    int distance(long n) const { return n % 7 == 3 ? 0 : 200 + int(n % 9000); }

    QByteArray until(long revolution) // frames up to the first one with a point of `revolution`
    {
        QByteArray bytes;
        do {
            ScanFrameFields fields{3600, angle(sent), angle(sent + 11), 0, {}};
            for (ScanPoint& point : fields.points)
                point = ScanPoint{std::uint16_t(distance(sent)), std::uint8_t(sent++ % 256)};
            bytes.append(reinterpret_cast<const char*>(encodeFrame(fields).data()), 47);
        } while (position(sent - 1) / 36000 < revolution);
        return bytes;
    }
    QStringList lines(long first_revolution, long last_revolution) const // of one save, rounds from 1
    {
        QStringList lines{QStringLiteral("Round angle distance intensity")};
        for (long n = 0; n < sent; ++n)
            if (position(n) / 36000 >= first_revolution && position(n) / 36000 <= last_revolution)
                lines << QStringLiteral("%1 %2 %3 %4")
                             .arg(position(n) / 36000 - first_revolution + 1)
                             .arg(angle(n) / 100.0, 0, 'f', 3)
                             .arg(distance(n))
                             .arg(n % 256);
        return lines;
    }
};

QStringList fileLines(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromLatin1(file.readAll()).split(QLatin1Char('\n'))
                                          : QStringList{QStringLiteral("cannot read ") + path};
}

class RecordingTest : public QObject
{
    Q_OBJECT
private slots:
    void hundredRoundsOneWriterAtATime()
    {
        // 0.8 degree apart, 37.5 frames a revolution: the crossing falls inside and between frames in turn.
        Recorder recorder;
        Head head{80, 19240}; // from 192.4 degrees
        recorder.startSaveData();
        QVERIFY(QRegularExpression(QRegularExpression::escape(recorder.directory_) + "/\\d{4}(_\\d\\d){5}\\.txt$")
                    .match(recorder.file_name_)
                    .hasMatch());
        recorder.feed(head.until(4));
        // A second save while the writer runs is refused; the first goes on undisturbed.
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QStringLiteral("^\\[ \".*\" \\] startSaveData")));
        recorder.startSaveData();
        QCOMPARE(recorder.reports(), QStringLiteral("failed 0 "));
        recorder.feed(head.until(101), 4096);
        QVERIFY(!recorder.recording_);
        QTRY_COMPARE_WITH_TIMEOUT(recorder.reports(), "failed 0 " + progress(100), 30000);
        // Collection began where the revolution under way ended: one revolution a round.
        QCOMPARE(fileLines(recorder.file_name_), head.lines(1, 100) << QString());
    }

    void cancelledSavesInOneSecondShareFile()
    {
        while (QTime::currentTime().msec() > 200) // all three saves within one second
            QTest::qSleep(5);
        Recorder recorder;
        Head head{80, 40};
        // Two saves cancelled after two rounds, with what follows unrecorded; each writes its header.
        for (long revolution : {0, 5}) {
            recorder.startSaveData();
            recorder.feed(head.until(revolution + 3));
            recorder.stopSaveData();
            recorder.feed(head.until(revolution + 5));
            QTRY_COMPARE_WITH_TIMEOUT(recorder.reports().count(QStringLiteral("idle")), revolution ? 2 : 1, 30000);
        }
        // Cancelled before its first round: the writer ends without writing.
        recorder.startSaveData();
        recorder.stopSaveData();
        recorder.feed(head.until(12));
        QTRY_COMPARE_WITH_TIMEOUT(recorder.reports(), progress(2) + progress(2) + progress(0), 30000);
        QCOMPARE(fileLines(recorder.file_name_), head.lines(1, 2) + head.lines(6, 7) << QString());
    }

    void dataFolderCannotBeCreated()
    {
        QTemporaryFile blocker; // a file in the way: no folder can be made
        QVERIFY(blocker.open());
        Recorder recorder;
        recorder.directory_ = blocker.fileName() + QStringLiteral("/data");
        recorder.data_directory_override_ = recorder.directory_;
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression(R"(createSaveFile .* data path create error: ".*/data"$)"));
        recorder.startSaveData();
        recorder.feed(Head{80, 40}.until(3));
        // No writer, (false, 0), nothing collected.
        QVERIFY(!recorder.saveRunning() && recorder.file_name_.isEmpty());
        QVERIFY(!recorder.recording_ && recorder.round_record_.empty());
        QCOMPARE(recorder.reports(), QStringLiteral("failed 0 "));
    }
};

QTEST_GUILESS_MAIN(RecordingTest)
#include "tst_recording.moc"

// Recording: whole revolutions collected, the data writer thread, the data file, progress reports.

#include <QtTest>

#include <mutex>

#include "SerialPort/serial_data_p.h"
#include "recording/output_folder.h"
#include "support/fixtures.h"
#include "support/modal_watcher.h"

using namespace tx710;
using tx710test::fileLines;

// A fresh decoder writing to a folder of its own, with its progress reports as text.
struct Recorder {
    QTemporaryDir temporary_;
    QString directory_;
    std::mutex reports_mutex_;
    std::string reports_;                   // the writer reports from its thread; no Qt sharing across
    SerialDataTestAccess::Decoder decoder_; // last: gone, and its writer ended, before the reports

    explicit Recorder(const QString& directory = QString())
        : directory_(directory.isEmpty() ? temporary_.path() + QStringLiteral("/data") : directory),
          decoder_(SerialDataTestAccess::create(directory_))
    {
        decoder_->setSaveProgressCallback([this](bool ok, int value) {
            std::lock_guard<std::mutex> lock(reports_mutex_);
            reports_ +=
                (ok ? "" : "failed ") + std::to_string(value) + (ok && !decoder_->saveRunning() ? " idle " : " ");
        });
    }
    QString reports() // "1 2 .. 100 idle ": "idle" once the writer no longer counts as running
    {
        std::lock_guard<std::mutex> lock(reports_mutex_);
        return QString::fromStdString(reports_);
    }
    void feed(const QByteArray& bytes, int read_size = 93)
    {
        for (int at = 0; at < bytes.size(); at += read_size)
            decoder_->findFrame(bytes.mid(at, read_size));
    }
    QString path() const { return decoder_->lastSaveOutcome().path; }
};

// "1 2 .. rounds ": a save's reports of `rounds` rounds, then the writer's last report when it ended.
QString progress(int rounds, bool ended = true)
{
    QString reports;
    for (int round = 1; round <= rounds; ++round)
        reports += QString::number(round) + ' ';
    return ended ? reports + QStringLiteral("100 idle ") : reports;
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

class RecordingTest : public QObject
{
    Q_OBJECT
    QTemporaryDir home_; // the user's data location lies in it

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        qputenv("HOME", home_.path().toLocal8Bit());
    }

    // One revolution a round, from where the revolution under way ends: a save's 100, and as many as
    // come for the live stream beside it, none once it ends. A second save while the writer runs is refused.
    void saveAndRoundStreamTakeWholeRevolutions()
    {
        // 0.8 degree apart, 37.5 frames a revolution: the crossing falls inside and between frames in turn.
        Recorder recorder;
        Head head{80, 19240}; // from 192.4 degrees
        QStringList streamed{QStringLiteral("Round angle distance intensity")};
        int rounds = 0;
        QVERIFY(recorder.decoder_->startRoundStream([&](std::vector<PointRecord> points) {
            QByteArray text;
            datafile::appendRound(text, ++rounds, points);
            streamed += QString::fromLatin1(text).split(QLatin1Char('\n')).mid(0, int(points.size()));
        }));
        recorder.decoder_->startSaveData();
        QVERIFY(QRegularExpression(QRegularExpression::escape(recorder.directory_) + "/\\d{4}(_\\d\\d){5}\\.txt$")
                    .match(recorder.path())
                    .hasMatch());
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QStringLiteral("^\\[ \".*\" \\] startSaveData")));
        recorder.decoder_->startSaveData();
        QCOMPARE(recorder.reports(), QStringLiteral("failed 0 "));
        recorder.feed(head.until(4));
        recorder.feed(head.until(121), 4096);
        QCOMPARE(rounds, 120);
        QCOMPARE(streamed, head.lines(1, 120));
        QTRY_COMPARE_WITH_TIMEOUT(recorder.reports(), "failed 0 " + progress(100), 30000);
        QCOMPARE(fileLines(recorder.path()), head.lines(1, 100) << QString());
        QCOMPARE(recorder.decoder_->lastSaveOutcome().rounds, 100);
        recorder.decoder_->stopRoundStream();
        recorder.feed(head.until(124));
        QCOMPARE(rounds, 120);
    }

    // Saves within one second share a file. Two cancelled after two rounds, with what follows unrecorded,
    // each write their header; one cancelled before its first round ends without writing. Then saves back to
    // back: the hundredth round is queued as the collection ends, and each save writes it and only its own rounds.
    void savesOneAfterAnotherKeepTheirOwnRounds()
    {
        while (QTime::currentTime().msec() > 200) // the three cancelled saves within one second
            QTest::qSleep(5);
        Recorder recorder;
        Head head{80, 40};
        for (long revolution : {0, 5}) {
            recorder.decoder_->startSaveData();
            recorder.feed(head.until(revolution + 3));
            recorder.decoder_->stopSaveData();
            recorder.feed(head.until(revolution + 5));
            QTRY_COMPARE_WITH_TIMEOUT(recorder.reports().count(QStringLiteral("idle")), revolution ? 2 : 1, 30000);
        }
        recorder.decoder_->startSaveData();
        recorder.decoder_->stopSaveData();
        recorder.feed(head.until(12));
        QTRY_COMPARE_WITH_TIMEOUT(recorder.reports(), progress(2) + progress(2) + progress(0), 30000);
        QStringList expected = head.lines(1, 2) + head.lines(6, 7);
        QCOMPARE(fileLines(recorder.path()), expected + QStringList(QString()));
        for (int save = 0; save < 12; ++save) {
            const long first = head.position(head.sent - 1) / 36000 + 1; // the next revolution to begin
            const QString before = recorder.reports();
            recorder.decoder_->startSaveData();
            recorder.feed(head.until(first + 99), 4096);
            recorder.feed(head.until(first + 100), 47); // the last round's end, frame by frame
            QTRY_COMPARE_WITH_TIMEOUT(recorder.reports(), before + progress(100), 30000);
            expected += head.lines(first, first + 99);
        }
        QStringList written;
        for (const QString& name : QDir(recorder.directory_).entryList(QDir::Files, QDir::Name))
            written += fileLines(recorder.directory_ + '/' + name).filter(QRegularExpression("."));
        QCOMPARE(written, expected);
    }

    // A write that fails ends the save: only whole rounds stay, one log line
    // gives the path and the reason, and later rounds are neither queued nor written.
    void writeFailureEndsSave_data()
    {
        QTest::addColumn<bool>("full_disk"); // else folders lie where the files would go
        QTest::addColumn<QString>("reason");
        QTest::newRow("full disk") << true << "File too large";
        QTest::newRow("file cannot be opened") << false << "Is a directory";
    }
    void writeFailureEndsSave()
    {
        QFETCH(bool, full_disk);
        QFETCH(QString, reason);
        Recorder recorder;
        const QDateTime now = QDateTime::currentDateTime();
        for (int second = 0; !full_disk && second < 5; ++second)
            QVERIFY(QDir().mkpath(recorder.directory_ + '/'
                                  + now.addSecs(second).toString(QStringLiteral("yyyy_MM_dd_hh_mm_ss")) + ".txt"));
        Head head{80, 40};
        tx710test::LogCapture log;
        {
            const tx710test::FileSizeLimit limit(full_disk ? 50000 : RLIM_INFINITY); // about five rounds
            recorder.decoder_->startSaveData();
            recorder.feed(head.until(12));
            QTRY_VERIFY_WITH_TIMEOUT(recorder.reports().endsWith(QLatin1String("failed 0 ")), 30000);
        }
        const SaveOutcome outcome = recorder.decoder_->lastSaveOutcome();
        QCOMPARE(outcome.rounds > 0, full_disk);
        QCOMPARE(recorder.reports(), progress(outcome.rounds, false) + QStringLiteral("failed 0 "));
        if (full_disk) // the last round ends with its line feed
            QCOMPARE(fileLines(outcome.path), head.lines(1, outcome.rounds) << QString());
        const QStringList lines = log.lines().filter(QStringLiteral("file_name_"));
        QCOMPARE(lines.size(), 1);
        QCOMPARE(lines.filter(outcome.path).filter(reason).size(), 1);
        recorder.feed(head.until(16));
        QTest::qWait(100);
        QCOMPARE(recorder.reports(), progress(outcome.rounds, false) + QStringLiteral("failed 0 "));
    }

    void dataFolderFallsBackToUserLocation_data()
    {
        QTest::addColumn<bool>("fallback_blocked");
        QTest::addColumn<QString>("log"); // the debug line, %1 the user location
        QTest::newRow("user location writable")
            << false << R"(folder ".*/data" cannot be written: "Not a directory" - using "%1"$)";
        QTest::newRow("neither writable") << true << R"(createSaveFile .* data path create error: ".*/data"$)";
    }
    void dataFolderFallsBackToUserLocation()
    {
        QFETCH(bool, fallback_blocked);
        QFETCH(QString, log);
        QTemporaryFile blocker; // a file in the way: no folder can be made beside it
        QVERIFY(blocker.open());
        Recorder recorder(blocker.fileName() + QStringLiteral("/data"));
        const QString fallback = tx710::userDataFolder(QStringLiteral("data"));
        QVERIFY(fallback.startsWith(home_.path()));
        QVERIFY(QDir().mkpath(QFileInfo(fallback).path()));
        QFile fallback_blocker(fallback);
        QVERIFY(!fallback_blocked || fallback_blocker.open(QIODevice::WriteOnly));
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression(log.replace("%1", QRegularExpression::escape(fallback))));
        Head head{80, 40};
        recorder.decoder_->startSaveData();
        recorder.feed(head.until(3));
        recorder.decoder_->stopSaveData();
        QTRY_COMPARE_WITH_TIMEOUT(recorder.reports(), fallback_blocked ? "failed 0 " : progress(2), 5000);
        const SaveOutcome outcome = recorder.decoder_->lastSaveOutcome();
        QCOMPARE(QFileInfo(outcome.path).path(), fallback_blocked ? QString() : fallback);
        QCOMPARE(outcome.folder_note.isEmpty(), fallback_blocked);
        QVERIFY(fallback_blocked ? fallback_blocker.remove() : QDir(fallback).removeRecursively());
    }
};

QTEST_GUILESS_MAIN(RecordingTest)
#include "tst_recording.moc"

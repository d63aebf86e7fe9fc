// Recordings opened for replay (text data files and MCAP files, whole and
// damaged) and the player that steps through them, without widgets.

#include <QSignalSpy>
#include <QtTest>

#include <cmath>

#include "recording/mcap_writer.h"
#include "replay/recording_file.h"
#include "replay/replay_player.h"
#include "support/fixtures.h"

using namespace tx710::replay;

namespace {

// Each round's point count, as "2 2 1".
QString shape(const std::vector<Round>& rounds)
{
    QStringList parts;
    for (const Round& round : rounds)
        parts << QString::number(round.points.size());
    return parts.join(' ');
}

std::vector<Round> timedRounds(std::initializer_list<std::int64_t> times_ms)
{
    std::vector<Round> rounds;
    for (std::int64_t ms : times_ms)
        rounds.push_back(Round{{{1, 500, 0}}, ms >= 0, ms * 1000000});
    return rounds;
}

} // namespace

class TestReplay : public QObject
{
    Q_OBJECT
private slots:
    void textRecordings_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("points"); // per round, or the error
        const QByteArray header = "Round angle distance intensity\n";
        QTest::newRow("two saves") << tx710test::fileBytes(tx710test::fixturePath("data_file_two_saves.txt"))
                                   << "2 2 1";
        QTest::newRow("cut inside a round") << header + "1 1 500 9\n2 1 500 9\n2 2 50"
                                            << "1";
        QTest::newRow("cut at a new round") << header + "1 1 500 9\n2 1 500 9\n3 2 50"
                                            << "1 1";
        QTest::newRow("malformed") << header + "1 1 500 9\n1 2 abc 9\n"
                                   << R"(line 3: distance "abc" is not a number)";
        QTest::newRow("empty") << QByteArray() << "the file is empty";
        QTest::newRow("header only") << header << "the file holds no whole round";
        QTest::newRow("text named .mcap") << header + "1 1 500 9\n"
                                          << "not an MCAP file (no magic at its start)";
    }
    void textRecordings()
    {
        QFETCH(QByteArray, text);
        QFETCH(QString, points);
        std::vector<Round> rounds;
        QString error;
        const bool ok = parseRecording(
            text, QTest::currentDataTag() == QByteArray("text named .mcap") ? "a.mcap" : "a.txt", rounds, error);
        QCOMPARE(ok ? shape(rounds) : error, points);
        QCOMPARE(ok, error.isEmpty());
    }

    // Times from the rounds, speeds from the latest status before each round.
    void mcapRecordingWithSpeeds()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("r.mcap");
        constexpr std::int64_t t0 = 1780000000000000000LL, ms = 1000000;
        {
            tx710::mcap::Writer writer;
            QVERIFY(writer.open(path));
            writer.writeRound(ScanRound{1, t0, {{1, 500, 0}}});
            writer.writeStatus(tx710::status::Sample{t0 + 50 * ms, 10, 0, 360, 4000});
            writer.writeRound(ScanRound{2, t0 + 100 * ms, {{1, 500, 0}, {1, 600, 1}}});
            writer.writeStatus(tx710::status::Sample{t0 + 150 * ms, 10, 0, 0, 4000}); // speed unknown
            writer.writeStatus(tx710::status::Sample{t0 + 190 * ms, 10, 0, 420, 4000});
            writer.writeRound(ScanRound{3, t0 + 200 * ms, {{1, 500, 0}}});
            QVERIFY(writer.close());
        }
        std::vector<Round> rounds;
        QString error;
        QVERIFY2(loadRecording(path, rounds, error), qPrintable(error));
        QCOMPARE(shape(rounds), QString("1 2 1"));
        QCOMPARE(rounds[1].time_ns, t0 + 100 * ms);
        const double speeds[] = {360, 360, 420}; // the first round is before any status
        for (int k = 0; k < 3; ++k)
            QCOMPARE(rounds[k].speed_rpm, speeds[k]);

        tx710::mcap::Writer writer; // no status at all
        QVERIFY(writer.open(path));
        writer.writeRound(ScanRound{1, t0, {{1, 500, 0}}});
        QVERIFY(writer.close());
        QVERIFY(loadRecording(path, rounds, error));
        QVERIFY(std::isnan(rounds[0].speed_rpm));
    }

    void stepAndSeekStayInside()
    {
        ReplayPlayer player;
        QSignalSpy shown(&player, &ReplayPlayer::roundChanged);
        player.load(timedRounds({-1, -1, -1}));
        player.stepBack();
        player.seek(7);
        player.stepForward();
        player.seek(-3);
        player.stepForward();
        QStringList seen;
        for (const auto& args : shown)
            seen << args[0].toString();
        QCOMPARE(seen.join(' '), QString("0 2 0 1"));
        QCOMPARE(player.index(), 1);
    }

    void playsToTheEndAndStops()
    {
        ReplayPlayer player;
        player.load(timedRounds({-1, -1, -1}));
        player.setPace(ReplayPlayer::Pace::PerRepaint);
        player.play();
        QTRY_COMPARE(player.isPlaying(), false);
        QCOMPARE(player.index(), 2);
        QCOMPARE(player.nextIntervalMs(), -1);
        player.play(); // from the last round: over again
        QCOMPARE(player.index(), 0);
        QCOMPARE(player.isPlaying(), true);
    }

    void paceSetsTheInterval_data()
    {
        QTest::addColumn<int>("at");
        QTest::addColumn<int>("pace");
        QTest::addColumn<int>("interval");
        QTest::newRow("recorded") << 0 << 0 << 40;
        QTest::newRow("long pause") << 1 << 0 << ReplayPlayer::kLongestIntervalMs;
        QTest::newRow("no times") << 2 << 0 << ReplayPlayer::kNominalIntervalMs;
        QTest::newRow("per repaint") << 0 << 1 << ReplayPlayer::kRepaintIntervalMs;
    }
    void paceSetsTheInterval()
    {
        QFETCH(int, at);
        QFETCH(int, pace);
        QFETCH(int, interval);
        ReplayPlayer player;
        player.load(timedRounds({0, 40, 9000, -1, 0}));
        player.seek(at);
        player.setPace(ReplayPlayer::Pace(pace));
        player.play();
        QCOMPARE(player.nextIntervalMs(), interval);
    }
};

QTEST_GUILESS_MAIN(TestReplay)
#include "tst_replay.moc"

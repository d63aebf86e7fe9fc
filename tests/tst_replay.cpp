// Recordings opened for replay (text and MCAP, whole and damaged) and the
// player stepping through them, without widgets.

#include <QtTest>

#include "replay/recording_file.h"
#include "replay/replay_player.h"
#include "support/fixtures.h"

using namespace tx710::replay;

namespace {

QString pointCounts(const std::vector<Round>& rounds)
{
    QStringList counts;
    for (const Round& round : rounds)
        counts << QString::number(round.points.size());
    return counts.join(' ');
}

// One round at each time (ms); a negative time: none recorded.
std::vector<Round> roundsAt(std::initializer_list<std::int64_t> times_ms)
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
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("outcome"); // point counts, or the error
        const QByteArray header = tx710::datafile::headerLine(), two = header + "1 1 500 9\n2 1 500 9\n";
        const auto row = [](const char* tag, const QByteArray& text, const QString& outcome,
                            const char* name = "a.txt") { QTest::newRow(tag) << text << QString(name) << outcome; };
        row("two saves", tx710test::fileBytes(tx710test::fixturePath("data_file_two_saves.txt")), "2 2 1");
        row("cut inside a round", two + "2 2 50", "1");
        row("cut at a new round", two + "3 2 50", "1 1");
        row("a save repeating the round number", header + "1 1 500 9\n" + header + "1 2 500 9\n", "1 1");
        row("lines before the first header", "1 1 500 9\n" + header + "1 2 500 9\n", "2");
        row("malformed", two + "2 2 abc 9\n", R"(line 4: distance "abc" is not a number)");
        row("empty", QByteArray(), "the file is empty");
        row("header only", header, "the file holds no whole round");
        row("text named .mcap", two, "not an MCAP file (no magic at its start)", "a.mcap");
        QByteArray rounds = header, points = header;
        for (int k = 1; k <= 200001; ++k)
            rounds += QByteArray::number(k) + " 1 500 9\n";
        for (int k = 1; k <= 100001; ++k)
            points += "1 1 500 9\n";
        row("more rounds than a day gives", rounds, QString("1 ").repeated(200001).chopped(1));
        row("more points than a round holds", points, "line 100002: more than 100000 points in a round");
    }
    void textRecordings()
    {
        QFETCH(QByteArray, text);
        QFETCH(QString, name);
        QFETCH(QString, outcome);
        std::vector<Round> rounds;
        QString error;
        QCOMPARE(parseRecording(text, name, rounds, error) ? pointCounts(rounds) : error, outcome);
    }

    // The viewer reads a round from the file when it is shown.
    void roundsReadWhenShown()
    {
        QTemporaryDir dir;
        QFile file(dir.filePath("r.txt"));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("1 1 500 9\n2 1 500 9\n") > 0);
        file.close();
        Recording recording;
        QString error;
        QVERIFY2(recording.open(file.fileName(), error), qPrintable(error));
        QVERIFY(file.resize(10));
        Round round;
        QVERIFY(!recording.read(1, round, error));
        QCOMPARE(error, QStringLiteral("the file changed since it was opened"));
    }

    void stepSeekAndEnd()
    {
        ReplayPlayer player;
        QSignalSpy shown(&player, &ReplayPlayer::roundChanged);
        player.load(roundsAt({-1, -1, -1}));
        for (auto step : {&ReplayPlayer::stepBack, &ReplayPlayer::stepForward, &ReplayPlayer::stepForward,
                          &ReplayPlayer::stepForward})
            (player.*step)();
        player.seek(-3);
        player.seek(7);
        QStringList seen;
        for (const auto& args : shown)
            seen << args[0].toString();
        QCOMPARE(seen.join(' '), QString("0 1 2 0 2")); // nothing before the first or after the last

        player.seek(0);
        player.setPace(ReplayPlayer::Pace::PerRepaint);
        player.play();
        for (const int next : {1, 2}) { // each drawn frame brings the next round
            player.frameDrawn();
            QCOMPARE(player.index(), next);
        }
        QCOMPARE(player.isPlaying(), false);
        player.play(); // from the last round: over again
        QCOMPARE(player.index(), 0);
    }

    void paceSetsTheInterval_data()
    {
        QTest::addColumn<int>("at");
        QTest::addColumn<int>("pace");
        QTest::addColumn<int>("interval");
        QTest::newRow("recorded") << 0 << 0 << 40;
        QTest::newRow("long pause") << 1 << 0 << ReplayPlayer::kLongestIntervalMs;
        QTest::newRow("no times") << 2 << 0 << ReplayPlayer::kNominalIntervalMs;
        QTest::newRow("per repaint: no timer") << 0 << 1 << -1;
    }
    void paceSetsTheInterval()
    {
        QFETCH(int, at);
        QFETCH(int, pace);
        QFETCH(int, interval);
        ReplayPlayer player;
        player.load(roundsAt({0, 40, 9000, -1, 0}));
        player.seek(at);
        player.setPace(ReplayPlayer::Pace(pace));
        player.play();
        QCOMPARE(player.nextIntervalMs(), interval);
    }
};

QTEST_GUILESS_MAIN(TestReplay)
#include "tst_replay.moc"

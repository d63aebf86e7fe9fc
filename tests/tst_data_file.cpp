// The data file's one owner: the line format the writer produces and the reader that takes it back.

#include <QtTest>

#include "recording/data_file.h"
#include "support/fixtures.h"

using namespace tx710;

namespace {

QByteArray fixtureBytes()
{
    QFile file(tx710test::fixturePath(QStringLiteral("data_file_two_saves.txt")));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestDataFile : public QObject
{
    Q_OBJECT
private slots:
    // Two saves appended to one file, written as the writer writes them, give the fixture byte for byte.
    void writerFormatMatchesKnownFile()
    {
        QByteArray text = datafile::headerLine();
        datafile::appendRound(text, 1, {{200, 1520, 359.2f}, {0, 0, 0}});
        datafile::appendRound(text, 2, {{255, 1234.5f, 0.4f}, {17, 65535, 12.5f}});
        text += datafile::headerLine();
        datafile::appendRound(text, 1, {{3, 800, 1.5f}});
        QCOMPARE(text, fixtureBytes());
    }

    void readerReturnsRoundsOfEachSave()
    {
        datafile::Contents contents;
        datafile::ReadError error;
        QVERIFY(datafile::parse(fixtureBytes(), contents, error));
        QCOMPARE(contents.rounds.size(), std::size_t(3));
        QCOMPARE(contents.rounds[1].save, 1);
        QCOMPARE(contents.rounds[1].number, 2);
        QCOMPARE(contents.rounds[2].save, 2);
        QCOMPARE(contents.rounds[2].number, 1);
        const PointRecord& point = contents.rounds[1].points[0];
        QCOMPARE(point.angle, 0.4f);
        QCOMPARE(point.distance, 1234.5f);
        QCOMPARE(point.intensity, 255.0f);
        QVERIFY(!contents.unterminated_tail);
    }

    // A file cut in the middle of a line keeps what came before it.
    void unterminatedLastLineIsLeftOut()
    {
        datafile::Contents contents;
        datafile::ReadError error;
        QVERIFY(datafile::parse(fixtureBytes() + "2 3.", contents, error));
        QCOMPARE(contents.rounds.size(), std::size_t(3));
        QVERIFY(contents.unterminated_tail);
    }

    void malformedLineIsNamed_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QString>("reason");
        QTest::newRow("three fields") << QByteArray("1 1.0 100")
                                      << "expected four fields: round angle distance intensity";
        QTest::newRow("five fields") << QByteArray("1 1.0 100 5 9")
                                     << "expected four fields: round angle distance intensity";
        QTest::newRow("round") << QByteArray("x 1.0 100 5") << "round \"x\" is not a whole number";
        QTest::newRow("angle") << QByteArray("1 nan 100 5") << "angle \"nan\" is not a number";
        QTest::newRow("distance") << QByteArray("1 1.0 abc 5") << "distance \"abc\" is not a number";
        QTest::newRow("intensity") << QByteArray("1 1.0 100 ?") << "intensity \"?\" is not a number";
    }
    void malformedLineIsNamed()
    {
        QFETCH(QByteArray, line);
        QFETCH(QString, reason);
        datafile::Contents contents;
        datafile::ReadError error;
        QVERIFY(!datafile::parse("Round angle distance intensity\n\n" + line + '\n', contents, error));
        QCOMPARE(error.line, 3);
        QCOMPARE(error.text(), "line 3: " + reason);
    }
};

QTEST_GUILESS_MAIN(TestDataFile)
#include "tst_data_file.moc"

// The data file's one owner: the line format the writer produces and the reader that takes it back.

#include <QtTest>

#include <random>

#include "recording/data_file.h"
#include "recording/number_text.h"
#include "support/fixtures.h"

using namespace tx710;

class TestDataFile : public QObject
{
    Q_OBJECT
private slots:
    // Two saves appended to one file give the fixture byte for byte; each save numbers its rounds
    // from 1, and a file cut in the middle of a line keeps what came before it.
    void twoSavesWrittenAndReadBack()
    {
        QByteArray text = datafile::headerLine();
        datafile::appendRound(text, 1, {{200, 1520, 359.2f}, {0, 0, 0}});
        datafile::appendRound(text, 2, {{255, 1234.5f, 0.4f}, {17, 65535, 12.5f}});
        text += datafile::headerLine();
        datafile::appendRound(text, 1, {{3, 800, 1.5f}});
        QCOMPARE(text, tx710test::fileBytes(tx710test::fixturePath(QStringLiteral("data_file_two_saves.txt"))));
        datafile::Contents contents;
        datafile::ReadError error;
        QVERIFY(datafile::parse(text + "2 3.", contents, error));
        QStringList saves_and_numbers;
        for (const auto& round : contents.rounds)
            saves_and_numbers << QStringLiteral("%1.%2").arg(round.save).arg(round.number);
        QCOMPARE(saves_and_numbers.join(' '), QStringLiteral("1.1 1.2 2.1"));
        QVERIFY(contents.unterminated_tail);
    }

    // The numbers a reader of the file gets back, exactly: decoder angles
    // between steps, an exact tie at the third decimal, large and fractional values.
    void asWrittenIsWhatTheReaderGets()
    {
        std::vector<PointRecord> points{{17, 65535, 0.0625f}, {255, 1234.5f, 0.79998779f}, {3, 1234567, 359.9995f},
                                        {0.5f, 0, 0.0005f},   {1e7f, 0.125f, 12.34550f},   {0, 0, 0}};
        for (int i = 0; i < 20000; ++i)
            points.push_back(PointRecord{float(i % 256), float(i), float(i) * 0.0179999f});
        QByteArray text = datafile::headerLine();
        datafile::appendRound(text, 1, points);
        datafile::Contents contents;
        datafile::ReadError error;
        QVERIFY(datafile::parse(text, contents, error));
        QCOMPARE(contents.rounds[0].points.size(), points.size());
        for (std::size_t i = 0; i < points.size(); ++i) {
            const PointRecord back = contents.rounds[0].points[i], mine = datafile::asWritten(points[i]);
            QCOMPARE(QVector<float>({mine.angle, mine.distance, mine.intensity}),
                     QVector<float>({back.angle, back.distance, back.intensity}));
        }
    }

    // The files' fast number text is QByteArray::number's, byte for byte.
    void numberTextIsQtsText()
    {
        std::vector<double> values{0,          -0.0,     0.0625, -0.0625, 0.0005, -0.0004, 0.0015, 2.5,
                                   999999,     1e6,      -1e6,   1e15,    1e300,  -3.5,    1234.5, 65535,
                                   0.79998779, 359.9995, 1e-7,   -1e-7,   0.125,  12.3455, -2.0005};
        std::mt19937 random(7);
        std::uniform_real_distribution<double> spread(-400, 400);
        for (int i = 0; i < 20000; ++i) {
            const double value = spread(random);
            values.push_back(value);
            values.push_back(std::round(value * 1e6) / 1e6);
            values.push_back(double(float(std::round(value * 1000) / 1000)));
            values.push_back(std::round(value));
        }
        for (const double value : values) {
            QByteArray fixed3 = "x", fixed6 = "x", general = "x"; // appended to what is there
            numbertext::appendFixed(fixed3, value, 3);
            numbertext::appendFixed(fixed6, value, 6);
            numbertext::appendGeneral6(general, value);
            QCOMPARE(fixed3, "x" + QByteArray::number(value, 'f', 3));
            QCOMPARE(fixed6, "x" + QByteArray::number(value, 'f', 6));
            QCOMPARE(general, "x" + QByteArray::number(value, 'g', 6));
        }
    }

    void malformedLineIsNamed_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QString>("reason");
        const auto row = [](const char* tag, const QByteArray& line, const QString& reason) {
            QTest::newRow(tag) << line << reason;
        };
        const QString fields = "expected four fields: round angle distance intensity";
        row("three fields", "1 1.0 100", fields);
        row("five fields", "1 1.0 100 5 9", fields);
        row("round", "x 1.0 100 5", "round \"x\" is not a whole number");
        row("angle", "1 nan 100 5", "angle \"nan\" is not a number");
        row("distance", "1 1.0 abc 5", "distance \"abc\" is not a number");
        row("intensity", "1 1.0 100 ?", "intensity \"?\" is not a number");
        row("beyond a float", "1 1e39 100 5", "angle \"1e39\" is not a number"); // the writer's "inf"
        row("long value quoted short", "1 1.0 " + QByteArray(60, 'a') + " 5",
            "distance \"" + QString(40, 'a') + "...\" is not a number");
        row("control characters escaped", "1 1.0 \x1b[2J\"\\ 5", "distance \"\\x1b[2J\\\"\\\\\" is not a number");
        row("line too long", QByteArray(1001, '1'), "longer than 1000 bytes");
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
